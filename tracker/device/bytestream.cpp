#include "bytestream.h"

#include "rfc2217stream.h"
#include "tcpstream.h"
#include "ttystream.h"

ByteStream::~ByteStream() = default;

std::unique_ptr<ByteStream> ByteStream::make(const std::string &port)
{
    std::string host;
    std::string service;
    if (TcpStream::splitAddress(port, "tcp", host, service))
        return std::make_unique<TcpStream>(host, service);
    if (TcpStream::splitAddress(port, "rfc2217", host, service))
        return std::make_unique<Rfc2217Stream>(host, service);
    return std::make_unique<TtyStream>();
}
