#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// The seconds one call of the function takes, by the monotonic clock.
double secondsFor(const std::function<void()>& work);

double median(std::vector<double> values);

// Runs each side once per round, in turn, starting with a different side each round so that
// neither always follows the other; returns each side's median seconds.
std::vector<double> alternate(const std::vector<std::function<double()>>& sides, int rounds);

// The same for sides that each measure several things at once (say, the time a client took to
// hand its jobs over and the time until the printer held them all): per side, the median of
// each of its measurements.
std::vector<std::vector<double>> alternateMany(
    const std::vector<std::function<std::vector<double>()>>& sides, int rounds);

// One measured figure against its target.
struct Figure {
  std::string what;
  double value = 0;
  double limit = 0;
  bool atMost = true;  // the figure must not exceed the limit (else: must reach it)
  std::string detail;  // the medians the figure was made from, or why it could not be made
  bool measured = true;

  bool met() const { return measured && (atMost ? value <= limit : value >= limit); }
};

// "what: detail; figure VALUE (target <= LIMIT): met"
std::string describe(const Figure& figure);
// "summary: what VALUE met, ..."
std::string summary(const std::vector<Figure>& figures);

}  // namespace bench
