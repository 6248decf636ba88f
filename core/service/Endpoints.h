#pragma once

#include <QByteArray>
#include <QUrl>

#include <cstddef>

namespace ow {

// The service addresses, decoded from the tables the build generates so that their
// text never appears in the binary. Each is decoded once; safe from any thread.
QUrl checkInEndpoint();
QUrl reportEndpoint();
QUrl crashEndpoint();

// Byte i of the result is table[i] XOR key[i mod 16].
QByteArray decodeEndpoint(const unsigned char* table, std::size_t size, const unsigned char key[16]);

} // namespace ow
