#pragma once
// The decoders' libraries (libsndfile, libmpg123, libsamplerate), loaded
// when the first sound is opened instead of with the program: linked in,
// they and what they pull in (FLAC, Vorbis, Opus, LAME) cost every start
// time in the dynamic loader; loading them costs the first sound a few ms.

#include <QString>
#include <mpg123.h>
#include <samplerate.h>
#include <sndfile.h>

struct DecoderLibraries
{
    decltype(&sf_open) sfOpen = nullptr;
    decltype(&sf_readf_float) sfReadFloat = nullptr;
    decltype(&sf_close) sfClose = nullptr;
    decltype(&sf_open_virtual) sfOpenVirtual = nullptr; // the sound clip's encoder
    decltype(&sf_writef_short) sfWriteShort = nullptr;
    decltype(&sf_strerror) sfError = nullptr;
    decltype(&src_callback_new) srcCallbackNew = nullptr;
    decltype(&src_callback_read) srcCallbackRead = nullptr;
    decltype(&src_delete) srcDelete = nullptr;
    decltype(&mpg123_new) mpgNew = nullptr;
    decltype(&mpg123_param) mpgParam = nullptr;
    decltype(&mpg123_open) mpgOpen = nullptr;
    decltype(&mpg123_getformat) mpgGetFormat = nullptr;
    decltype(&mpg123_format_none) mpgFormatNone = nullptr;
    decltype(&mpg123_format) mpgFormat = nullptr;
    decltype(&mpg123_read) mpgRead = nullptr;
    decltype(&mpg123_close) mpgClose = nullptr;
    decltype(&mpg123_delete) mpgDelete = nullptr;

    // Loads the three once, from any thread; nullptr when one cannot be
    // loaded, with the reason in *problem. They stay loaded.
    static const DecoderLibraries *Get(QString *problem = nullptr);
};
