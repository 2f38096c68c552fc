#include "softplc/observe/plot.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "softplc/util/files.h"
#include "softplc/util/platform.h"
#include "softplc/util/process.h"

namespace softplc {

namespace {

constexpr const char* kGnuplot = "gnuplot";
// A gnuplot that does not answer must not hold the run: the start check and the drawing are timed.
constexpr std::chrono::seconds kStartTimeout{10};
constexpr std::chrono::seconds kDrawTimeout{120};

// A gnuplot string literal that holds `text` exactly and cannot end the command: in double quotes,
// with a backslash, a quote and every control character written as an escape (a line
// end would end the command, and the next line could run anything), the backquote and '@' too
// (gnuplot substitutes a backquoted command's output and a macro's text into the line before it
// parses it). Bytes above 0x7F (UTF-8) go as they are. A NUL, which would end gnuplot's string,
// shows as "\0".
std::string quoted(const std::string& text) {
  std::string q = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0) {
      q += "\\\\0";
    } else if (c == '\\' || c == '"') {
      q += '\\';
      q += c;
    } else if (byte < 0x20 || byte == 0x7F || c == '`' || c == '@') {
      // Always "\0" and three digits: gnuplot reads up to three more after a leading 0, so a
      // shorter form would take a digit that follows into the escape.
      char octal[6];
      std::snprintf(octal, sizeof octal, "\\0%03o", byte);
      q += octal;
    } else {
      q += c;
    }
  }
  return q + "\"";
}

std::string number(double value) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.9g", value);
  return buffer;
}

std::string screen(double fraction) { return "at screen " + number(fraction); }

// What gnuplot draws for a column: its value, or for TIME the ticks as seconds.
std::string value_of(const PlotSeries& series, uint32_t ticksPerSecond) {
  const std::string column = "$" + std::to_string(series.column);
  if (series.type == ValueType::Time && ticksPerSecond != 0) {
    return "(" + column + "/" + std::to_string(ticksPerSecond) + ".0)";
  }
  return "(" + column + ")";
}

// Colours by the series' place in the request, whatever the drawing order.
std::string colour(std::size_t index, bool translucent) {
  static constexpr const char* palette[] = {"1f77b4", "d62728", "2ca02c", "ff7f0e",
                                            "9467bd", "8c564b", "e377c2", "17becf"};
  return std::string(" lc rgb '#") + (translucent ? "70" : "") + palette[index % std::size(palette)] + "'";
}

std::string title_of(const PlotSeries& series) {
  return series.type == ValueType::Time ? series.name + " (s)" : series.name;
}

}  // namespace

std::string gnuplot_script(const PlotRequest& request) {
  std::vector<const PlotSeries*> numbers;
  std::vector<const PlotSeries*> bools;
  for (const PlotSeries& series : request.series) (series.type == ValueType::Bool ? bools : numbers).push_back(&series);
  // Integers hold their value from one cycle to the next: steps, drawn wide and first, so that a
  // REAL on the same course (a REAL ramp beside an INT ramp) stays visible on top of them.
  const auto integral = [](const PlotSeries* series) {
    return series->type == ValueType::Int || series->type == ValueType::Uint;
  };
  std::stable_partition(numbers.begin(), numbers.end(), integral);

  double first = request.firstSeconds;
  double last = request.lastSeconds;
  if (!(last > first)) {   // one row: give the axis some width
    first -= 0.5;
    last += 0.5;
  }
  const std::string data = quoted(request.csv.string()) + " skip 1 using 1:";

  std::string s;
  s += "set terminal pngcairo size " + std::to_string(request.width) + "," + std::to_string(request.height) +
       " noenhanced rounded font ',9'\n";
  s += "set output " + quoted(request.output.string()) + "\n";
  s += "set datafile separator ','\n";
  s += "set xrange [" + number(first) + ":" + number(last) + "]\n";
  s += "set grid\n";
  s += "set multiplot title " + quoted(request.title) + "\n";

  // Margins in fractions of the picture, the same for both panels so that their time axes line
  // up; room on the left for the BOOL lanes' names, on the right for the key.
  std::size_t longest = 0;
  for (const PlotSeries* series : bools) longest = std::max(longest, series->name.size());
  const double width = static_cast<double>(request.width);
  const double height = static_cast<double>(request.height);
  const double left = std::clamp((static_cast<double>(longest) * 7.0 + 40.0) / width, 70.0 / width, 0.4);
  const double right = std::clamp(1.0 - 150.0 / width, left + 0.1, 0.95);
  const double top = 1.0 - 40.0 / height;
  const double bottom = 45.0 / height;
  // The BOOL panel: a lane of 24 pixels per BOOL, at most 40 % of the plotting height.
  const double boolHeight =
      bools.empty() ? 0.0
                    : numbers.empty() ? top - bottom
                                      : std::min((top - bottom) * 0.4, (24.0 * static_cast<double>(bools.size()) + 20.0) / height);
  const double split = bottom + boolHeight;

  s += "set lmargin " + screen(left) + "\nset rmargin " + screen(right) + "\n";
  s += "set key outside right top\n";

  if (!numbers.empty()) {
    s += "set tmargin " + screen(top) + "\n";
    s += "set bmargin " + screen(bools.empty() ? bottom : split + 0.01) + "\n";
    if (bools.empty()) {
      s += "set xlabel 'time (s)'\n";
    } else {
      s += "set format x ''\nunset xlabel\n";
    }
    s += "plot ";
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      if (i != 0) s += ", \\\n     ";
      const std::size_t place = static_cast<std::size_t>(numbers[i] - request.series.data());
      s += data + value_of(*numbers[i], request.ticksPerSecond) +
           (integral(numbers[i]) ? " with steps lw 5" : " with lines lw 1.5") + colour(place, integral(numbers[i])) +
           " title " + quoted(title_of(*numbers[i]));
    }
    s += "\n";
  }

  if (!bools.empty()) {
    // Lane i (counted from the top) holds its BOOL between i and i + 0.7 on a reversed axis.
    const std::size_t lanes = bools.size();
    s += "set tmargin " + screen(numbers.empty() ? top : split - 0.01) + "\n";
    s += "set bmargin " + screen(bottom) + "\n";
    s += "set format x '%g'\nset xlabel 'time (s)'\n";
    s += "unset key\n";
    s += "set yrange [" + number(static_cast<double>(lanes) - 0.15) + ":-0.15]\n";
    s += "set ytics (";
    for (std::size_t i = 0; i < lanes; ++i) {
      if (i != 0) s += ", ";
      s += quoted(bools[i]->name) + " " + number(static_cast<double>(i) + 0.35);
    }
    s += ")\nset grid noytics xtics\n";
    s += "plot ";
    for (std::size_t i = 0; i < lanes; ++i) {
      if (i != 0) s += ", \\\n     ";
      const std::string lane = number(static_cast<double>(i) + 0.7);
      const std::size_t place = static_cast<std::size_t>(bools[i] - request.series.data());
      s += data + "(" + lane + " - 0.7*($" + std::to_string(bools[i]->column) + " != 0)) with steps lw 1.5" +
           colour(place, false) + " title " + quoted(bools[i]->name);
    }
    s += "\n";
  }
  s += "unset multiplot\nset output\n";
  return s;
}

Status check_plotter() {
  auto status = run_program(kGnuplot, {"-e", "exit"}, gnuplot_install_hint(), kStartTimeout);
  if (!status) return status.error();
  if (*status != 0) return runtime_error(std::string(kGnuplot) + " does not start (exit status " + std::to_string(*status) + ")");
  return ok_status();
}

Status draw_plot(const PlotRequest& request) {
  if (request.series.empty()) return runtime_error("nothing to plot");
  TemporaryFile script(".gp");
  if (auto written = write_file(script.path(), gnuplot_script(request)); !written) {
    return runtime_error("cannot write the plot script " + script.path().string() + ": " + written.error().message);
  }
  std::error_code ec;
  std::filesystem::remove(request.output, ec);
  auto status = run_program(kGnuplot, {script.path().string()}, gnuplot_install_hint(), kDrawTimeout);
  if (!status) return status.error();
  if (*status != 0) {
    return runtime_error(std::string(kGnuplot) + " failed (exit status " + std::to_string(*status) + ") drawing " +
                         request.output.string());
  }
  if (std::filesystem::file_size(request.output, ec) == 0 || ec) {
    return runtime_error(std::string(kGnuplot) + " wrote no picture to " + request.output.string());
  }
  return ok_status();
}

}  // namespace softplc
