// The listing of the program in Structured Text and its map from the debug events to its lines,
// generated from the statement lists (app/listing.h), the layout (app/layout.h) and the
// initial-value table. Part of the symbol-file generator; see listing.cpp.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

struct GeneratedListing {
  std::string text;              // the listing file, lines ending in "\n"
  nlohmann::ordered_json map;    // the "listing" object of the entry point in the symbol file
};

// The listing of the module `module`, to be written as `fileName` beside its symbol file. Throws
// std::runtime_error when the lists do not agree with the layout (a field that does not exist, an
// operation that the layout does not give the field, an unknown name in a statement).
GeneratedListing make_listing(const std::string& module, const std::string& fileName);
