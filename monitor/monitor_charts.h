#pragma once

#include "monitor/series_tally.h"

class QAreaSeries;
class QChart;
class QChartView;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace capmeter {

// The monitor's two charts: the trend of the points over elapsed time, with
// read errors and time-outs marked, and the histogram of the points. The
// views belong to whichever widget they are laid out in.
class MonitorCharts final {
 public:
  MonitorCharts();

  QChartView* TrendView() const { return trend_.view; }
  QChartView* HistogramView() const { return histogram_.view; }
  void Repaint(const TallyPicture& picture);

 private:
  void RepaintTrend(const Trend& trend);
  void RepaintHistogram(const Histogram& histogram);

  // The trend: points over elapsed time, failures marked.
  struct TrendParts {
    QChartView* view = nullptr;
    QLineSeries* line = nullptr;
    QScatterSeries* failureMarks = nullptr;
    QValueAxis* time = nullptr;
    QValueAxis* value = nullptr;
  } trend_;
  // The histogram: the outline of the bins' counts.
  struct HistogramParts {
    QChartView* view = nullptr;
    QLineSeries* outline = nullptr;
    QValueAxis* value = nullptr;
    QValueAxis* count = nullptr;
  } histogram_;
};

}  // namespace capmeter
