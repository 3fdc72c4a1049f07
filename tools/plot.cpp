#include "tools/plot.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/command_line.h"

extern char** environ;

namespace kelvro::sim {
namespace {

// A gnuplot string literal: single quotes, a quote inside doubled.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'')
      out += "''";
    else if (c == '\n' || c == '\r')
      out += ' ';
    else
      out += c;
  }
  return out + "'";
}

class TempPath {
 public:
  bool Create(const char* pattern, int suffix_length) {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = "/tmp";
    path_ = (dir / pattern).string();
    const int fd = mkstemps(path_.data(), suffix_length);
    if (fd < 0) {
      path_.clear();
      return false;
    }
    close(fd);
    return true;
  }
  ~TempPath() {
    if (!path_.empty()) std::remove(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

bool HasProbeHits(const RunResult& r) {
  for (const ProbeReport& p : r.probes) {
    if (p.hit) return true;
  }
  return false;
}

}  // namespace

std::string FindGnuplot() {
  const char* path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::stringstream list(dirs);
  std::string dir;
  while (std::getline(list, dir, ':')) {
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/gnuplot";
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

std::string PlotScript(const RunResult& r, const std::string& data_path,
                       const std::string& output_path, const std::string& format) {
  const std::string units = r.units == "inch" ? "in" : "mm";
  const std::string program = std::filesystem::path(r.program_path).filename().string();

  // The path keeps its true proportions (one unit is as long in X as in Y), so the picture
  // gets the height the part needs; the fill panel below has a fixed height.
  double min_x = 0.0, max_x = 0.0, min_y = 0.0, max_y = 0.0;
  for (size_t i = 0; i < r.plot.size(); ++i) {
    const PlotSample& p = r.plot[i];
    if (i == 0) {
      min_x = max_x = p.x;
      min_y = max_y = p.y;
    }
    min_x = std::min(min_x, p.x);
    max_x = std::max(max_x, p.x);
    min_y = std::min(min_y, p.y);
    max_y = std::max(max_y, p.y);
  }
  const double span_x = std::max(max_x - min_x, 1e-6);
  const double span_y = std::max(max_y - min_y, 1e-6);
  constexpr int kWidth = 1000;
  constexpr int kFillHeight = 330;
  // A plasma run gets a third panel: the arc voltage and the THC offset over time.
  const int thc_height = r.thc ? 330 : 0;
  const double aspect = std::clamp(span_y / span_x, 0.25, 1.4);
  const int path_height = static_cast<int>(160 + 760 * aspect);
  const int height = path_height + kFillHeight + thc_height;
  const double fill_share = static_cast<double>(kFillHeight) / height;
  const double thc_share = static_cast<double>(thc_height) / height;
  const double below_path = fill_share + thc_share;

  std::ostringstream s;
  s.setf(std::ios::fixed);
  s.precision(4);
  if (format == "svg") {
    s << "set terminal svg size " << kWidth << "," << height
      << " font 'sans,12' background rgb 'white'\n";
  } else {
    // The cairo terminal draws smoother lines; the libgd one is there in every build.
    s << "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) {\n"
      << "  set terminal pngcairo size " << kWidth << "," << height
      << " font 'sans,10' background rgb 'white'\n"
      << "} else {\n"
      << "  set terminal png size " << kWidth << "," << height << " background rgb 'white'\n"
      << "}\n";
  }
  // File names are shown as they are, not as markup.
  s << "set termoption noenhanced\n"
    << "set output " << Quoted(output_path) << "\n"
    << "set datafile separator ' '\n"
    << "set multiplot title " << Quoted("kelvro-sim: " + program) << "\n"
    << "set origin 0," << below_path << "\n"
    << "set size ratio -1 1," << (1.0 - below_path) << "\n"
    << "set title 'Executed tool path in machine coordinates (controller positions at every "
       "timer tick), colour: Z'\n"
    << "set xlabel " << Quoted("X [" + units + "]") << "\n"
    << "set ylabel " << Quoted("Y [" + units + "]") << "\n"
    << "set cblabel " << Quoted("Z [" + units + "]") << "\n"
    << "set palette defined (0 '#08306b', 0.5 '#2171b5', 0.85 '#9ecae1', 1 '#e0e0e0')\n"
    << "set grid lc rgb '#dddddd'\n"
    << "set key off\n"
    << "set offsets graph 0.03, graph 0.03, graph 0.03, graph 0.03\n"
    << "plot " << Quoted(data_path) << " index 0 using 2:3:4 with lines lw 1.5 lc palette";
  if (HasProbeHits(r)) {
    // Probe hits: where the probe touched, with the height it measured (program coordinates).
    s << ", '' index 1 using 1:2 with points pt 7 ps 1.2 lc rgb '#d62728', "
         "'' index 1 using 1:2:(sprintf('Z %.3f', $3)) with labels offset 0,1 tc rgb '#d62728'";
  }
  s << "\n"
    << "unset colorbox\n"
    << "set origin 0," << thc_share << "\n"
    << "set size noratio 1," << fill_share << "\n"
    << "set offsets 0, 0, 0, 0\n"
    << "set title 'Controller queue fill'\n"
    << "set xlabel 'simulated time [s]'\n"
    << "set ylabel 'segments (ms of motion)'\n"
    << "set yrange [0:1250]\n"
    << "set key top right\n"
    << "plot " << Quoted(data_path)
    << " index 0 using 1:5 with lines lw 1.2 lc rgb '#1f77b4' title 'queue fill', "
       "850 with lines dt 2 lc rgb '#888888' title 'streaming threshold (850)'\n";
  if (r.thc) {
    s << "set origin 0,0\n"
      << "set size noratio 1," << thc_share << "\n"
      << "set title 'Torch height control: arc voltage, the controller''s THC Z offset and the "
         "torch''s height above the sheet'\n"
      << "set xlabel 'simulated time [s]'\n"
      << "set ylabel 'arc voltage [V]'\n"
      << "set yrange [*:*]\n"
      << "set y2label " << Quoted("offset, height [" + units + "]") << "\n"
      << "set y2tics\n"
      << "set ytics nomirror\n"
      << "set key top right\n"
      << "plot " << Quoted(data_path)
      << " index 0 using 1:6 with lines lw 1 lc rgb '#ff7f0e' title 'arc voltage', '' index 0 "
         "using 1:7 axes x1y2 with lines lw 1.5 lc rgb '#2ca02c' title 'THC Z offset', '' "
         "index 0 using 1:($6 > 0 ? $8 : 1/0) axes x1y2 with lines lw 1.5 lc rgb '#9467bd' "
         "title 'torch height above the sheet'\n";
  }
  s << "unset multiplot\n"
    << "set output\n";
  return s.str();
}

bool WritePlot(const RunResult& r, const std::string& path, std::string* error) {
  const std::string format = PlotFormat(path);
  if (format.empty()) {
    *error = "the plot file must end in .png or .svg: \"" + path + "\"";
    return false;
  }
  if (r.plot.empty()) {
    *error = "nothing to plot: the run recorded no positions";
    return false;
  }
  const std::string gnuplot = FindGnuplot();
  if (gnuplot.empty()) {
    *error = "cannot draw \"" + path + "\": gnuplot is not installed (Debian package gnuplot-nox)";
    return false;
  }
  TempPath data;
  TempPath script;
  if (!data.Create("kelvro-sim-plot-XXXXXX.dat", 4) ||
      !script.Create("kelvro-sim-plot-XXXXXX.gp", 3)) {
    *error = "cannot create temporary files for the plot";
    return false;
  }
  {
    std::ofstream out(data.path(), std::ios::trunc);
    char line[160];
    for (const PlotSample& p : r.plot) {
      std::snprintf(line, sizeof line, "%.3f %.4f %.4f %.4f %d %.2f %.4f %.4f\n", p.t_seconds, p.x,
                    p.y, p.z, p.fill, p.arc_volts, p.thc_offset, p.torch_height);
      out << line;
    }
    if (HasProbeHits(r)) {
      out << "\n\n";
      for (const ProbeReport& p : r.probes) {
        if (!p.hit) continue;
        // Where the probe touched on the machine, with the height it measured.
        std::snprintf(line, sizeof line, "%.4f %.4f %.4f\n", p.result[0] + p.offset[0],
                      p.result[1] + p.offset[1], p.result[2]);
        out << line;
      }
    }
    std::ofstream gp(script.path(), std::ios::trunc);
    gp << PlotScript(r, data.path(), path, format);
    if (!out || !gp) {
      *error = "cannot write temporary files for the plot";
      return false;
    }
  }

  // gnuplot's own messages stay on our stderr; a missing output file is reported below.
  std::error_code ec;
  std::filesystem::remove(path, ec);
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(gnuplot.c_str()), const_cast<char*>(script.path().c_str()),
                  nullptr};
  if (posix_spawn(&pid, gnuplot.c_str(), nullptr, nullptr, argv, environ) != 0) {
    *error = "cannot start " + gnuplot;
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      *error = "lost track of gnuplot";
      return false;
    }
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *error = "gnuplot failed to draw \"" + path + "\"";
    return false;
  }
  if (!std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0) {
    *error = "gnuplot did not write \"" + path + "\"";
    return false;
  }
  return true;
}

}  // namespace kelvro::sim
