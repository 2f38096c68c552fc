// Pictures of a trace: gnuplot draws chosen columns of a trace CSV over time into a PNG file.
// BOOLs are drawn as steps in a panel of their own below the numbers, one lane each, so that a
// 0/1 signal stays readable next to values in the hundreds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "softplc/util/result.h"
#include "softplc/util/value_type.h"

namespace softplc {

struct PlotSeries {
  std::string name;
  ValueType type = ValueType::Real;
  std::size_t column = 0;   // 1-based column of the CSV (column 1 is time_s)
};

struct PlotRequest {
  std::filesystem::path csv;     // a trace: header row, then time_s and the values
  std::filesystem::path output;  // the PNG file
  std::vector<PlotSeries> series;
  unsigned width = 1000;
  unsigned height = 600;
  std::string title;
  double firstSeconds = 0.0;     // the time axis
  double lastSeconds = 0.0;
  uint32_t ticksPerSecond = 0;   // TIME columns hold ticks; they are drawn in seconds
};

// The gnuplot commands that draw the request.
std::string gnuplot_script(const PlotRequest& request);

// Checks that gnuplot can be started, before a long run that would need it at its end.
Status check_plotter();

// Draws the request with gnuplot; a missing gnuplot or a failed drawing gives an error.
Status draw_plot(const PlotRequest& request);

}  // namespace softplc
