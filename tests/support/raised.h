#pragma once

#include "framework/exception.h"

#include <QString>

namespace testsupport {

// Runs body and returns the text of the Error it raised; an empty text when it raised none.
template<typename Error = framework::Exception, typename Body> QString raisedText(Body &&body)
{
    try {
        body();
    } catch (const Error &error) {
        return error.message();
    }
    return {};
}

} // namespace testsupport
