#pragma once
// Encodes captured 16-bit samples as Ogg Vorbis in memory (libsndfile's
// virtual I/O), so the caller writes the file in one safe step.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace audio {

// frames interleaved frames of channels samples each; empty with *error
// when the library is missing or refuses.
QByteArray EncodeOggVorbis(const qint16 *samples, qint64 frames, int channels, int rate,
                           QString *error = nullptr);

} // namespace audio
