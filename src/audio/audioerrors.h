#pragma once

#include "framework/exception.h"

#include <QString>

#include <cstdint>

namespace audio {

// The exceptions of the three audio components; each carries only its message.
class EACMIn : public framework::Exception
{
public:
    using Exception::Exception;
};

class EACMOut : public framework::Exception
{
public:
    using Exception::Exception;
};

class EACMConvertor : public framework::Exception
{
public:
    using Exception::Exception;
};

// Which component reports: the wave components explain more codes than the converter.
enum class AudioReporter
{
    WaveIn,
    WaveOut,
    Convertor
};

// The explanation of code for reporter, beginning with a space; empty when it is unexplained.
QString explainedText(AudioReporter reporter, int32_t code);

// The message for a failed operation: the name followed directly by the explanation, or
// "<name> raised an unknown error (code #<code>)" for an unexplained code. code is the platform's
// result taken as a signed 32-bit integer.
QString audioErrorMessage(AudioReporter reporter, const QString &operation, int32_t code);

} // namespace audio
