// The Modbus register map and the checking of requests against it, without a network: the
// generated map of the module, a user's map refused line by line, the words of each type, and the
// exception each kind of bad request gets. The server itself is tested with a client that is not
// ours (modbus_test.py).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "softplc/live/modbus/modbus_request.h"
#include "softplc/live/modbus/register_map.h"
#include "module_symbols.h"
#include "softplc/symbols/symbol_file.h"

namespace softplc {
namespace {

TEST(ModbusMap, TheGeneratedMapOfTheModule) {
  EXPECT_EQ(register_map_csv(default_register_map(module_symbols())),
            "name,table,address,count,type,access\n"
            "LagResetCmd,coil,0,1,BOOL,read_write\n"
            "IntRampEnable,coil,1,1,BOOL,read_write\n"
            "IntRampReset,coil,2,1,BOOL,read_write\n"
            "RealRampEnable,coil,3,1,BOOL,read_write\n"
            "RealRampReset,coil,4,1,BOOL,read_write\n"
            "ExtIn12,coil,5,1,BOOL,read_write\n"
            "ExtIn8,coil,6,1,BOOL,read_write\n"
            "IntRampReached,discrete_input,0,1,BOOL,read\n"
            "RealRampReached,discrete_input,1,1,BOOL,read\n"
            "ExtOut2,discrete_input,2,1,BOOL,read\n"
            "ExtOut4,discrete_input,3,1,BOOL,read\n"
            "BlinkQ,discrete_input,4,1,BOOL,read\n"
            "LagIn,holding_register,0,2,REAL,read_write\n"
            "ExtIn1,holding_register,2,1,INT,read_write\n"
            "ExtIn6,holding_register,3,1,INT,read_write\n"
            "ExtIn4,holding_register,4,1,INT,read_write\n"
            "ExtIn11,holding_register,5,1,INT,read_write\n"
            "ExtIn5,holding_register,6,1,INT,read_write\n"
            "ExtIn2,holding_register,7,1,INT,read_write\n"
            "LagOut,input_register,0,2,REAL,read\n"
            "IntRampOut,input_register,2,1,INT,read\n"
            "RealRampOut,input_register,3,2,REAL,read\n"
            "ExtOut3,input_register,5,1,INT,read\n"
            "ExtOut1,input_register,6,1,INT,read\n"
            "ExtOut5,input_register,7,1,INT,read\n");
}

TEST(ModbusMap, AUsersMapReadsBackAsWritten) {
  const std::string csv =
      "name,table,address,count,type,access\n"
      "IntRampEnable,coil,10,1,BOOL,read_write\n"
      "IntRamp.Period,holding_register,100,4,TIME,read_write\n"
      "Ext1.Out1,holding_register,104,1,INT,read_write\n"
      "BlinkQ,input_register,0,1,BOOL,read\n";
  auto map = parse_register_map("# our HMI\n" + csv, module_symbols(), "hmi.csv");
  ASSERT_TRUE(map) << map.error().message;
  EXPECT_EQ(register_map_csv(*map), csv);
  // The same map as a spreadsheet may write it: quoted fields, padding, CR LF.
  auto quoted = parse_register_map(
      "\"name\",\"table\",\"address\",\"count\",\"type\",\"access\"\r\n"
      "\"IntRampEnable\", coil ,\"10\",1,BOOL,read_write\r\n"
      "\" IntRamp.Period \",holding_register,100,4,TIME,read_write\r\n"
      "Ext1.Out1,holding_register,104,1,INT,\"read_write\"\r\n"
      "BlinkQ,input_register,0,1,BOOL,read\r\n",
      module_symbols(), "hmi.csv");
  ASSERT_TRUE(quoted) << quoted.error().message;
  EXPECT_EQ(register_map_csv(*quoted), csv);
}

TEST(ModbusMap, MistakesAreReportedWithTheirLines) {
  const std::string header = "name,table,address,count,type,access\n";
  struct Case {
    std::string rows;
    std::vector<std::string> messages;   // each found in the error, in this order
  };
  const std::vector<Case> cases = {
      {"LagIn,holding_register,0,2,REAL,read_write\nLagIn,holding_register,4,2,REAL,read\n",
       {"m.csv:3: LagIn is already mapped on line 2"}},
      {"LagIn,holding_register,0,2,REAL,read\nExtIn1,holding_register,1,1,INT,read\n",
       {"m.csv:3: ExtIn1 (holding_register 1) overlaps LagIn (holding_register 0..1) on line 2"}},
      {"NoSuch,coil,0,1,BOOL,read\n", {"m.csv:2: unknown variable 'NoSuch'"}},
      {"IntRamp,coil,0,1,BOOL,read\n", {"m.csv:2: 'IntRamp' is a block instance, not a variable"}},
      {"LagIn,holding_register,0,1,REAL,read\n", {"m.csv:2: LagIn (REAL) takes 2 registers, not 1"}},
      {"IntRamp.Period,input_register,0,2,TIME,read\n", {"m.csv:2: IntRamp.Period (TIME) takes 4 registers, not 2"}},
      {"LagIn,holding_register,0,2,INT,read\n", {"m.csv:2: LagIn is a REAL, not an INT"}},
      {"IntRampOut,coil,0,1,INT,read\n", {"m.csv:2: IntRampOut cannot be a coil: an INT goes in one register"}},
      {"LagIn,holding_register,65535,2,REAL,read\n", {"m.csv:2: LagIn at 65535 takes 2 registers and runs past address 65535"}},
      {"BlinkQ,coil,65536,1,BOOL,read\n", {"m.csv:2: address '65536' is not a number from 0 to 65535"}},
      {"LagOut,input_register,0,2,REAL,read_write\n", {"m.csv:2: input_register is read-only for Modbus clients"}},
      {"LagOut,register,0,2,REAL,readwrite\n",
       {"m.csv:2: unknown table 'register'", "m.csv:2: unknown access 'readwrite' (read or read_write)"}},
      {"LagOut,input_register,0,2\n", {"m.csv:2: expected the 6 fields name,table,address,count,type,access, found 4"}},
      // Every mistake of the file at once, by line.
      {"Nope,coil,0,1,BOOL,read\nLagIn,holding_register,0,2,REAL,read\nLagIn,holding_register,2,2,REAL,read\n",
       {"2 mistakes", "m.csv:2: unknown variable 'Nope'", "m.csv:4: LagIn is already mapped on line 3"}},
      {"", {"m.csv: the map has no entries"}},
      // Quotes as RFC 4180 has them; what a field holds is shown on one line.
      {"BlinkQ,coil,0,1,BOOL,read\n\"LagIn,holding_register,0,2,REAL,read\n",
       {"m.csv:3: a field's opening quote is never closed"}},
      {"\"LagIn\"x,holding_register,0,2,REAL,read\n", {"m.csv:2: text after the closing quote of a field"}},
      {"\"Lag\nIn\",holding_register,0,2,REAL,read\n", {"m.csv:2: 'Lag\\nIn' is not a variable name"}},
      {"LagOut,input\x1b[2J_register,0,2,REAL,read\n", {"m.csv:2: unknown table 'input\\x1b[2J_register'"}},
  };
  for (const Case& c : cases) {
    auto map = parse_register_map(header + c.rows, module_symbols(), "m.csv");
    ASSERT_FALSE(map) << c.rows;
    std::size_t from = 0;
    for (const std::string& message : c.messages) {
      const auto at = map.error().message.find(message, from);
      EXPECT_NE(at, std::string::npos) << "want '" << message << "' in:\n" << map.error().message;
      if (at != std::string::npos) from = at + message.size();
    }
  }
  auto noHeader = parse_register_map("LagIn,holding_register,0,2,REAL,read\n", module_symbols(), "m.csv");
  ASSERT_FALSE(noHeader);
  EXPECT_NE(noHeader.error().message.find("m.csv:1: the first line must be the header"), std::string::npos);
}

TEST(ModbusMap, ValuesInRegistersHighWordFirst) {
  const Symbols& s = module_symbols();
  struct Case {
    const char* variable;
    ModbusTable table;
    std::vector<uint8_t> bytes;   // as in the data area, little-endian
    std::vector<uint16_t> words;
  };
  const std::vector<Case> cases = {
      {"LagIn", ModbusTable::HoldingRegister, {0x33, 0x33, 0xCD, 0x42}, {0x42CD, 0x3333}},   // 102.6
      {"LagIn", ModbusTable::HoldingRegister, {0x00, 0x00, 0x80, 0xBF}, {0xBF80, 0x0000}},   // -1.0
      {"IntRamp.Period", ModbusTable::HoldingRegister, {0xDE, 0x34, 0x12, 0, 0, 0, 0, 0}, {0x0000, 0x0000, 0x0012, 0x34DE}},
      {"IntRamp.Period", ModbusTable::HoldingRegister, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFE}},   // -2 ticks
      {"ExtIn1", ModbusTable::HoldingRegister, {0xFE, 0xFF}, {0xFFFE}},   // -2
      {"BlinkQ", ModbusTable::HoldingRegister, {0x01}, {0x0001}},
      {"BlinkQ", ModbusTable::Coil, {0x01}, {0x0001}},
  };
  for (const Case& c : cases) {
    MapEntry entry;
    entry.variable = **s.find(c.variable);
    entry.table = c.table;
    entry.count = modbus_count(entry.variable.type, c.table);
    EXPECT_EQ(to_modbus(entry, c.bytes), c.words) << c.variable;
    auto back = from_modbus(entry, c.words);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::vector<uint8_t>(back->view().begin(), back->view().end()), c.bytes) << c.variable;
  }
  MapEntry flag;
  flag.variable = **s.find("IntRampEnable");
  flag.table = ModbusTable::HoldingRegister;
  EXPECT_FALSE(from_modbus(flag, std::vector<uint16_t>{2}));
}

TEST(ModbusRequest, EachBadRequestGetsItsException) {
  const RegisterMap map = default_register_map(module_symbols());
  using E = ModbusException;
  struct Case {
    const char* what;
    std::vector<uint8_t> pdu;
    E exception;
  };
  const std::vector<Case> cases = {
      {"all holding registers", {0x03, 0, 0, 0, 8}, E::None},
      {"half of LagIn", {0x03, 0, 1, 0, 1}, E::None},
      {"one past the holding registers", {0x03, 0, 0, 0, 9}, E::IllegalDataAddress},
      {"an input register beyond the map", {0x04, 0, 8, 0, 1}, E::IllegalDataAddress},
      {"no registers", {0x03, 0, 0, 0, 0}, E::IllegalDataValue},
      {"126 registers", {0x03, 0, 0, 0, 126}, E::IllegalDataValue},
      {"2001 coils", {0x01, 0, 0, 0x07, 0xD1}, E::IllegalDataValue},
      {"a read with a byte too many", {0x03, 0, 0, 0, 1, 0}, E::IllegalDataValue},
      {"read device identification", {0x2B, 0x0E, 1, 0}, E::IllegalFunction},
      {"write single coil 0x1234", {0x05, 0, 1, 0x12, 0x34}, E::IllegalDataValue},
      {"write a coil past the map", {0x05, 0, 7, 0xFF, 0}, E::IllegalDataAddress},
      {"write one word of LagIn", {0x06, 0, 0, 0x42, 0x48}, E::IllegalDataAddress},
      {"write ExtIn1 and half of LagIn", {0x10, 0, 1, 0, 2, 4, 0, 0, 0, 5}, E::IllegalDataAddress},
      {"write registers, byte count wrong", {0x10, 0, 2, 0, 1, 4, 0, 5, 0, 0}, E::IllegalDataValue},
      {"write coils, data missing", {0x0F, 0, 0, 0, 9, 2, 0xFF}, E::IllegalDataValue},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(check_modbus_request(c.pdu, map, false).exception, c.exception) << c.what;
  }
  EXPECT_EQ(check_modbus_request(std::vector<uint8_t>{0x05, 0, 1, 0xFF, 0}, map, true).exception, E::IllegalFunction);
  EXPECT_EQ(check_modbus_request(std::vector<uint8_t>{0x03, 0, 0, 0, 8}, map, true).exception, E::None);

  // Writable user map entries only; a read-only one is not an address a client may write.
  auto user = parse_register_map("name,table,address,count,type,access\nExtIn1,holding_register,0,1,INT,read\n",
                                 module_symbols(), "u.csv");
  ASSERT_TRUE(user);
  EXPECT_EQ(check_modbus_request(std::vector<uint8_t>{0x06, 0, 0, 0, 1}, *user, false).exception, E::IllegalDataAddress);
}

TEST(ModbusRequest, AWriteOfSeveralVariablesIsOneGroup) {
  const RegisterMap map = default_register_map(module_symbols());
  // LagIn = 50.0 (0x42480000) and ExtIn1 = -3, holding registers 0 to 2 in one request.
  const ModbusRequest request =
      check_modbus_request(std::vector<uint8_t>{0x10, 0, 0, 0, 3, 6, 0x42, 0x48, 0, 0, 0xFF, 0xFD}, map, false);
  ASSERT_EQ(request.exception, ModbusException::None);
  ASSERT_EQ(request.writes.size(), 2u);
  EXPECT_EQ(request.writes[0].variable.name, "LagIn");
  EXPECT_EQ(std::vector<uint8_t>(request.writes[0].value.view().begin(), request.writes[0].value.view().end()),
            (std::vector<uint8_t>{0, 0, 0x48, 0x42}));
  EXPECT_EQ(request.writes[1].variable.name, "ExtIn1");
  EXPECT_EQ(std::vector<uint8_t>(request.writes[1].value.view().begin(), request.writes[1].value.view().end()),
            (std::vector<uint8_t>{0xFD, 0xFF}));

  // Coils 1 and 3 set, 2 cleared: bits of one byte, the lowest first.
  const ModbusRequest coils = check_modbus_request(std::vector<uint8_t>{0x0F, 0, 1, 0, 3, 1, 0b101}, map, false);
  ASSERT_EQ(coils.writes.size(), 3u);
  EXPECT_EQ(coils.writes[0].variable.name, "IntRampEnable");
  EXPECT_EQ(coils.writes[0].value.bytes[0], 1);
  EXPECT_EQ(coils.writes[1].value.bytes[0], 0);
  EXPECT_EQ(coils.writes[2].variable.name, "RealRampEnable");
  EXPECT_EQ(coils.writes[2].value.bytes[0], 1);
}

}  // namespace
}  // namespace softplc
