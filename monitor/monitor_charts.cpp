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
  trend_.line = new QLineSeries;
  trend_.line->setName(QObject::tr("points (lowest and highest per column)"));
  trend_.failureMarks = new QScatterSeries;
  trend_.failureMarks->setName(QObject::tr("read error or time-out"));
  trend_.failureMarks->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
  trend_.failureMarks->setMarkerSize(7.0);
  trend_.failureMarks->setColor(QColor(0xf0, 0xb4, 0x00));
  auto* trend = new QChart;
  trend->setTitle(QObject::tr("Trend"));
  trend->addSeries(trend_.line);
  trend->addSeries(trend_.failureMarks);
  trend_.time = new QValueAxis;
  trend_.time->setTitleText(QObject::tr("elapsed time (s)"));
  trend_.value = new QValueAxis;
  trend->addAxis(trend_.time, Qt::AlignBottom);
  trend->addAxis(trend_.value, Qt::AlignLeft);
  for (QXYSeries* series : std::initializer_list<QXYSeries*>{trend_.line, trend_.failureMarks}) {
    series->attachAxis(trend_.time);
    series->attachAxis(trend_.value);
  }
  trend->legend()->setAlignment(Qt::AlignBottom);
  trend_.view = ViewOf(trend, QStringLiteral("Trend chart"));
  trend_.view->setRenderHint(QPainter::Antialiasing);

  histogram_.outline = new QLineSeries;
  auto* area = new QAreaSeries(histogram_.outline);
  area->setName(QObject::tr("points per bin"));
  auto* histogram = new QChart;
  histogram->setTitle(QObject::tr("Histogram"));
  histogram->addSeries(area);
  histogram_.value = new QValueAxis;
  histogram_.count = new QValueAxis;
  histogram_.count->setTitleText(QObject::tr("points"));
  histogram_.count->setLabelFormat(QStringLiteral("%d"));
  histogram->addAxis(histogram_.value, Qt::AlignBottom);
  histogram->addAxis(histogram_.count, Qt::AlignLeft);
  area->attachAxis(histogram_.value);
  area->attachAxis(histogram_.count);
  histogram->legend()->hide();
  histogram_.view = ViewOf(histogram, QStringLiteral("Histogram"));
}

void MonitorCharts::Repaint(const TallyPicture& picture) {
  const QString unit = picture.microfarads ? QObject::tr(
                                                 "C (\xC2\xB5"
                                                 "F)")
                                           : QObject::tr("t (s)");
  trend_.value->setTitleText(unit);
  histogram_.value->setTitleText(unit);
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
  const double bottom = ApplyRoundScale(*trend_.value, low, high, kTicksUp).low;
  QList<QPointF> marks;
  for (const Trend::Column& column : trend.Columns()) {
    if (column.failures > 0) {
      marks.append({column.Middle(), bottom});
    }
  }
  trend_.line->replace(line);
  trend_.failureMarks->replace(marks);
  ApplyRoundScale(*trend_.time, 0.0, std::max(end, 1.0), kTicksAcross);
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
  histogram_.outline->replace(outline);
  if (bins.empty()) {
    ApplyRoundScale(*histogram_.value, 0.0, 1.0, kTicksAcross);
  } else {
    ApplyRoundScale(*histogram_.value, bins.front().lower, bins.back().upper, kTicksAcross);
  }
  const AxisScale counts = CountScale(static_cast<double>(tallest), kTicksUp);
  histogram_.count->setRange(counts.low, counts.high);
  histogram_.count->setTickCount(counts.Ticks());
}

}  // namespace capmeter
