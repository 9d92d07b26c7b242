#include "audio/DecoderLibraries.h"

#include "files/LateLibrary.h"

// The name a function has in its library: mpg123.h maps some names to
// others (large-file and newer variants), and so must the lookup.
#define TARVO_SYMBOL_NAME(function) TARVO_SYMBOL_TEXT(function)
#define TARVO_SYMBOL_TEXT(function) #function
#define TARVO_RESOLVE(library, function, into)                                                     \
    ResolveInto(library, TARVO_SYMBOL_NAME(function), into)

const DecoderLibraries *DecoderLibraries::Get(QString *problem)
{
    return LoadOnce<DecoderLibraries>(problem, [](DecoderLibraries &d, QString &failure) {
        static QLibrary sndfile(QStringLiteral("sndfile"), 1);
        static QLibrary samplerate(QStringLiteral("samplerate"), 0);
        static QLibrary mpg123(QStringLiteral("mpg123"), 0);
        for (QLibrary *library : {&sndfile, &samplerate, &mpg123}) {
            if (!library->load()) {
                failure = QStringLiteral("a sound decoding library could not be loaded (%1)")
                              .arg(library->errorString());
                return false;
            }
        }
        const bool complete = TARVO_RESOLVE(sndfile, sf_open, d.sfOpen) &&
                              TARVO_RESOLVE(sndfile, sf_readf_float, d.sfReadFloat) &&
                              TARVO_RESOLVE(sndfile, sf_close, d.sfClose) &&
                              TARVO_RESOLVE(sndfile, sf_open_virtual, d.sfOpenVirtual) &&
                              TARVO_RESOLVE(sndfile, sf_writef_short, d.sfWriteShort) &&
                              TARVO_RESOLVE(sndfile, sf_strerror, d.sfError) &&
                              TARVO_RESOLVE(samplerate, src_callback_new, d.srcCallbackNew) &&
                              TARVO_RESOLVE(samplerate, src_callback_read, d.srcCallbackRead) &&
                              TARVO_RESOLVE(samplerate, src_delete, d.srcDelete) &&
                              TARVO_RESOLVE(mpg123, mpg123_new, d.mpgNew) &&
                              TARVO_RESOLVE(mpg123, mpg123_param, d.mpgParam) &&
                              TARVO_RESOLVE(mpg123, mpg123_open, d.mpgOpen) &&
                              TARVO_RESOLVE(mpg123, mpg123_getformat, d.mpgGetFormat) &&
                              TARVO_RESOLVE(mpg123, mpg123_format_none, d.mpgFormatNone) &&
                              TARVO_RESOLVE(mpg123, mpg123_format, d.mpgFormat) &&
                              TARVO_RESOLVE(mpg123, mpg123_read, d.mpgRead) &&
                              TARVO_RESOLVE(mpg123, mpg123_close, d.mpgClose) &&
                              TARVO_RESOLVE(mpg123, mpg123_delete, d.mpgDelete);
        if (!complete) {
            failure = QStringLiteral("a sound decoding library lacks a function");
            return false;
        }
        return true;
    });
}
