// The figures a benchmark reports for a measure it repeats: the median and the range.
#pragma once

#include <algorithm>
#include <vector>

namespace tornquil::bench {

struct Summary {
  double median;
  double low;
  double high;
};

[[nodiscard]] inline Summary summarise(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back()};
}

}  // namespace tornquil::bench
