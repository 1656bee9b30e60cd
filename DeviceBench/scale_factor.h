#pragma once
// The start-up scale factor: DeviceBench switches the toolkit's own high-DPI scaling off and
// scales its pages by a factor computed once from the primary screen.

#include <QSize>

struct ScaleFactor {
    double ratio = 1.0;  // physical over logical resolution, the larger of the two axes
    double scale = 1.0;  // the value written to QT_SCALE_FACTOR
};

//! Scale for a screen of `logical` size showing a desktop of `physical` resolution (pixels).
//! A dense screen (ratio > 1.25) scales by 80 % of its ratio; otherwise wide screens scale with
//! their width against 1920 pixels, never below 1. Empty sizes give ratio 1 and scale 1. Pure.
ScaleFactor ComputeScaleFactor(const QSize& logical, const QSize& physical);
