#include "bench/figures.h"

#include <algorithm>
#include <cstdio>

namespace bench {

double secondsFor(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<std::vector<double>> alternateMany(
    const std::vector<std::function<std::vector<double>()>>& sides, int rounds) {
  // times[side][measurement][round]
  std::vector<std::vector<std::vector<double>>> times(sides.size());
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < sides.size(); ++k) {
      const std::size_t side = (k + static_cast<std::size_t>(round)) % sides.size();
      const std::vector<double> measured = sides[side]();
      times[side].resize(measured.size());
      for (std::size_t m = 0; m < measured.size(); ++m) {
        times[side][m].push_back(measured[m]);
      }
    }
  }
  std::vector<std::vector<double>> medians(sides.size());
  for (std::size_t side = 0; side < sides.size(); ++side) {
    for (const std::vector<double>& t : times[side]) {
      medians[side].push_back(median(t));
    }
  }
  return medians;
}

std::vector<double> alternate(const std::vector<std::function<double()>>& sides, int rounds) {
  std::vector<std::function<std::vector<double>()>> many;
  for (const std::function<double()>& side : sides) {
    many.emplace_back([&side] { return std::vector<double>{side()}; });
  }
  std::vector<double> medians;
  for (const std::vector<double>& m : alternateMany(many, rounds)) {
    medians.push_back(m.at(0));
  }
  return medians;
}

std::string describe(const Figure& f) {
  if (!f.measured) {
    return f.what + ": not measured: " + f.detail;
  }
  char figure[128];
  std::snprintf(figure, sizeof figure, "; figure %.3f (target %s %.3f): %s", f.value,
                f.atMost ? "<=" : ">=", f.limit, f.met() ? "met" : "NOT met");
  return f.what + ": " + f.detail + figure;
}

std::string summary(const std::vector<Figure>& figures) {
  std::string s = "summary:";
  for (std::size_t i = 0; i < figures.size(); ++i) {
    char part[256];
    std::snprintf(part, sizeof part, "%s %s %.3f %s", i == 0 ? "" : ";", figures[i].what.c_str(),
                  figures[i].value,
                  !figures[i].measured ? "not measured"
                  : figures[i].met()   ? "met"
                                       : "NOT met");
    s += part;
  }
  return s;
}

}  // namespace bench
