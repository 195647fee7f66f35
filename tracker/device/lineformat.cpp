#include "lineformat.h"

namespace LineFormat {

bool speedFor(uint32_t baudRate, speed_t &speed)
{
    struct Rate
    {
        uint32_t bits;
        speed_t value;
    };
    static const Rate kRates[] = {
        {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
        {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
        {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
        {57600, B57600},
#endif
#ifdef B115200
        {115200, B115200},
#endif
#ifdef B230400
        {230400, B230400},
#endif
#ifdef B460800
        {460800, B460800},
#endif
#ifdef B500000
        {500000, B500000},
#endif
#ifdef B576000
        {576000, B576000},
#endif
#ifdef B921600
        {921600, B921600},
#endif
#ifdef B1000000
        {1000000, B1000000},
#endif
#ifdef B1152000
        {1152000, B1152000},
#endif
#ifdef B1500000
        {1500000, B1500000},
#endif
#ifdef B2000000
        {2000000, B2000000},
#endif
#ifdef B2500000
        {2500000, B2500000},
#endif
#ifdef B3000000
        {3000000, B3000000},
#endif
#ifdef B3500000
        {3500000, B3500000},
#endif
#ifdef B4000000
        {4000000, B4000000},
#endif
    };
    for (const Rate &rate : kRates) {
        if (rate.bits == baudRate) {
            speed = rate.value;
            return true;
        }
    }
    return false;
}

bool apply(termios &settings, const SerialConfig &config)
{
    speed_t speed = B0;
    if (!speedFor(config.baudRate, speed))
        return false;

    tcflag_t size = 0;
    switch (config.dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return false;
    }

    tcflag_t parity = 0;
    switch (config.parity) {
    case 0: parity = 0; break;
    case 1: parity = PARENB | PARODD; break;
    case 2: parity = PARENB; break;
#ifdef CMSPAR
    case 3: parity = PARENB | CMSPAR | PARODD; break; // mark
    case 4: parity = PARENB | CMSPAR; break;          // space
#endif
    default: return false;
    }

    tcflag_t stop = 0;
    switch (config.stopBits) {
    case 0: stop = 0; break;
    case 1: // 1.5 stop bits do not exist here; two is the nearest
    case 2: stop = CSTOPB; break;
    default: return false;
    }

    termios next = settings;
    // Raw binary transfer: no line editing, no translation, no echo, no
    // signals, no software flow control.
    next.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL
                                           | IXON | IXOFF | IXANY | IGNPAR | INPCK);
    next.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    next.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    next.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CMSPAR
    next.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
#ifdef CRTSCTS
    next.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    next.c_cflag |= size | parity | stop | CREAD | CLOCAL;
    if (parity != 0)
        next.c_iflag |= INPCK;
    // Reads never wait for data: callers ask for what is already there.
    next.c_cc[VMIN] = 0;
    next.c_cc[VTIME] = 0;
    if (::cfsetispeed(&next, speed) != 0 || ::cfsetospeed(&next, speed) != 0)
        return false;
    settings = next;
    return true;
}

} // namespace LineFormat
