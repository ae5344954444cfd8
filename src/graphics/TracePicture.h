#pragma once

// The graphic display as a picture file: the plots of all three motors one above the other,
// each with its scales as on screen, under a legend that names every curve with its register,
// its unit and its scale. One painting serves the PNG and the SVG file. No widgets; user-
// interface thread (or any thread that owns the recorder).

#include "records/TraceRecorder.h"

#include <QByteArray>
#include <QSize>
#include <QStringList>

class QFont;
class QPainter;

namespace kvx {

enum class PictureFormat
{
    Png,
    Svg,
};

// The legend lines, in the screen legend's order: velocity, target velocity, position,
// acceleration.
[[nodiscard]] QStringList tracePictureLegend();
[[nodiscard]] QSize tracePictureSize(const QFont &font);
// Paints the whole picture from (0, 0) on a white page; `font` is the window's.
void paintTracePicture(QPainter &painter, const TraceRecorder &recorder, const QFont &font);
// The file's bytes; empty if the picture could not be encoded.
[[nodiscard]] QByteArray tracePicture(const TraceRecorder &recorder, const QFont &font,
                                      PictureFormat format);

} // namespace kvx
