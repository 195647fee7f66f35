#pragma once

#include <cstdint>
#include <string>

// What opening a port does with a modem control line (DTR, RTS). Some
// instruments take power from these lines or reset when they change.
enum class LineControl : uint8_t
{
    Unchanged, // left as the driver or the server has it
    Asserted,
    Released,
};

// What opening a port does with DTR and RTS unless told otherwise: both
// are raised, as a terminal program holds them while it has the line.
constexpr LineControl kDefaultLineControl = LineControl::Asserted;

// Line settings of the serial link. The connection code fills one in and
// hands it to CSerialPort::Open, which keeps a copy.
struct SerialConfig
{
    // The port as the user typed it: a number n names the classic COMn
    // device (/dev/ttyS(n-1)); a text beginning with '/' is a device path.
    std::string port = "1";
    uint32_t baudRate = 9600;
    uint8_t stopBits = 0; // 0 = one stop bit, 1 = 1.5, 2 = two
    uint8_t dataBits = 8;
    uint8_t parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t lineEnd = 13;       // only compared by Configure
    uint32_t reserved = 0;      // only compared by Configure
    uint32_t readTimeout = 200; // ms; also the inter-byte time-out of an exchange
    int8_t separator = -1;      // byte that ends a line in received data
    int8_t terminator = -1;     // byte Write appends; negative: nothing appended
    uint32_t inQueueSize = 1024;
    uint32_t outQueueSize = 512;
    LineControl dtr = kDefaultLineControl;
    LineControl rts = kDefaultLineControl;
};
