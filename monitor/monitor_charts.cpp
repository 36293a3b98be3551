#include "monitor/monitor_charts.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "monitor/axis_scale.h"

namespace capmeter {

namespace {

// Enough labels to read a value off, few enough not to crowd: the charts are
// wider than they are tall.
constexpr int kTicksAcross = 8;
constexpr int kTicksUp = 6;

// Ticks at round values, labelled with as many decimals as the step needs;
// beyond what fixed decimals write briefly, in exponent form.
AxisScale ApplyRoundScale(QValueAxis& axis, double low, double high, int ticks) {
  const AxisScale scale = RoundScale(low, high, ticks);
  axis.setRange(scale.low, scale.high);
  axis.setTickCount(scale.Ticks());
  const bool brief =
      scale.Decimals() <= 9 && std::max(std::abs(scale.low), std::abs(scale.high)) < 1e9;
  axis.setLabelFormat(brief ? QStringLiteral("%.%1f").arg(scale.Decimals())
                            : QStringLiteral("%.6g"));
  return scale;
}

QChartView* ViewOf(QChart* chart, const QString& accessibleName) {
  auto* view = new QChartView(chart);
  view->setAccessibleName(accessibleName);
  return view;
}

}  // namespace

MonitorCharts::MonitorCharts() {
  trendLine_ = new QLineSeries;
  trendLine_->setName(QObject::tr("points (lowest and highest per column)"));
  failureMarks_ = new QScatterSeries;
  failureMarks_->setName(QObject::tr("read error or time-out"));
  failureMarks_->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
  failureMarks_->setMarkerSize(7.0);
  failureMarks_->setColor(QColor(0xf0, 0xb4, 0x00));
  auto* trend = new QChart;
  trend->setTitle(QObject::tr("Trend"));
  trend->addSeries(trendLine_);
  trend->addSeries(failureMarks_);
  trendTime_ = new QValueAxis;
  trendTime_->setTitleText(QObject::tr("elapsed time (s)"));
  trendValue_ = new QValueAxis;
  trend->addAxis(trendTime_, Qt::AlignBottom);
  trend->addAxis(trendValue_, Qt::AlignLeft);
  for (QXYSeries* series : std::initializer_list<QXYSeries*>{trendLine_, failureMarks_}) {
    series->attachAxis(trendTime_);
    series->attachAxis(trendValue_);
  }
  trend->legend()->setAlignment(Qt::AlignBottom);
  trendView_ = ViewOf(trend, QStringLiteral("Trend chart"));
  trendView_->setRenderHint(QPainter::Antialiasing);

  histogramOutline_ = new QLineSeries;
  auto* area = new QAreaSeries(histogramOutline_);
  area->setName(QObject::tr("points per bin"));
  auto* histogram = new QChart;
  histogram->setTitle(QObject::tr("Histogram"));
  histogram->addSeries(area);
  histogramValue_ = new QValueAxis;
  histogramCount_ = new QValueAxis;
  histogramCount_->setTitleText(QObject::tr("points"));
  histogramCount_->setLabelFormat(QStringLiteral("%d"));
  histogram->addAxis(histogramValue_, Qt::AlignBottom);
  histogram->addAxis(histogramCount_, Qt::AlignLeft);
  area->attachAxis(histogramValue_);
  area->attachAxis(histogramCount_);
  histogram->legend()->hide();
  histogramView_ = ViewOf(histogram, QStringLiteral("Histogram"));
}

void MonitorCharts::Repaint(const TallyPicture& picture) {
  const QString unit = picture.microfarads ? QObject::tr(
                                                 "C (\xC2\xB5"
                                                 "F)")
                                           : QObject::tr("t (s)");
  trendValue_->setTitleText(unit);
  histogramValue_->setTitleText(unit);
  RepaintTrend(picture.trend);
  RepaintHistogram(picture.histogram);
}

void MonitorCharts::RepaintTrend(const Trend& trend) {
  QList<QPointF> line;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  double end = 0.0;
  for (const Trend::Column& column : trend.Columns()) {
    end = column.last;
    if (column.values == 0) {
      continue;
    }
    line.append({column.Middle(), column.low});
    if (column.high != column.low) {
      line.append({column.Middle(), column.high});
    }
    low = std::min(low, column.low);
    high = std::max(high, column.high);
  }
  if (line.isEmpty()) {
    low = 0.0;
    high = 1.0;
  }
  const double bottom = ApplyRoundScale(*trendValue_, low, high, kTicksUp).low;
  QList<QPointF> marks;
  for (const Trend::Column& column : trend.Columns()) {
    if (column.failures > 0) {
      marks.append({column.Middle(), bottom});
    }
  }
  trendLine_->replace(line);
  failureMarks_->replace(marks);
  ApplyRoundScale(*trendTime_, 0.0, std::max(end, 1.0), kTicksAcross);
}

void MonitorCharts::RepaintHistogram(const Histogram& histogram) {
  QList<QPointF> outline;
  std::uint64_t tallest = 1;
  const std::vector<Histogram::Bin> bins = histogram.Occupied();
  for (const Histogram::Bin& bin : bins) {
    const auto count = static_cast<double>(bin.count);
    outline.append({bin.lower, 0.0});
    outline.append({bin.lower, count});
    outline.append({bin.upper, count});
    outline.append({bin.upper, 0.0});
    tallest = std::max(tallest, bin.count);
  }
  histogramOutline_->replace(outline);
  if (bins.empty()) {
    ApplyRoundScale(*histogramValue_, 0.0, 1.0, kTicksAcross);
  } else {
    ApplyRoundScale(*histogramValue_, bins.front().lower, bins.back().upper, kTicksAcross);
  }
  histogramCount_->setRange(0.0, static_cast<double>(tallest));
  histogramCount_->applyNiceNumbers();
}

}  // namespace capmeter
