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

  QChartView* TrendView() const { return trendView_; }
  QChartView* HistogramView() const { return histogramView_; }
  void Repaint(const TallyPicture& picture);

 private:
  void RepaintTrend(const Trend& trend);
  void RepaintHistogram(const Histogram& histogram);

  QChartView* trendView_ = nullptr;
  QLineSeries* trendLine_ = nullptr;
  QScatterSeries* failureMarks_ = nullptr;
  QValueAxis* trendTime_ = nullptr;
  QValueAxis* trendValue_ = nullptr;
  QChartView* histogramView_ = nullptr;
  QLineSeries* histogramOutline_ = nullptr;
  QValueAxis* histogramValue_ = nullptr;
  QValueAxis* histogramCount_ = nullptr;
};

}  // namespace capmeter
