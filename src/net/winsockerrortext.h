#pragma once

#include <QString>

#include <cstdint>

namespace net {

// The text for a Winsock error number, as the socket component raises it: "10061:Connection
// refused" for a number in the system's table, "Unknown Error No. N" for any other, and an empty
// text for 0.
QString winsockErrorText(uint16_t number);

} // namespace net
