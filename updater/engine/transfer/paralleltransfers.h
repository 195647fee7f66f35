#pragma once

#include "deltafetch.h"
#include "filetransfer.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Several downloads at once, each on a connection of its own: the run's
// client, already connected and in the update folder, and further clients
// that log in and change to that folder on their own threads first (one
// that cannot simply takes no files). Each client is driven by one thread
// of its own, so no client is shared; requests and outcomes pass through
// this object's lock. The caller adds files in its own order and takes the
// outcomes as they end, in any order.
class CParallelTransfers
{
public:
    // The client behind every transfer (one connection each).
    using Client = IFileTransfer;

    struct Request
    {
        std::size_t index = 0; // the caller's number for the file
        std::string name;
        std::string folder;
        Client::GetFileOptions options;
        // When usable and the server sends parts: built from an older
        // copy first (deltafetch.h), fetched whole when that fails.
        DeltaSource delta;
    };

    struct Outcome
    {
        std::size_t index = 0;
        bool arrived = false;
        std::string error;           // the client's reason when it did not arrive
        bool connectionLost = false; // the server stopped answering on this connection
        bool byDelta = false;        // it arrived built from the older copy
        std::uint64_t fetched = 0;   // the bytes that built it then
    };

    // first: used on a thread of its own until this object is destroyed.
    // more: clients not yet connected, each to log in and change to
    // serverPath before it takes a file.
    CParallelTransfers(Client &first, std::vector<std::unique_ptr<Client>> more,
                       const std::string &serverPath);
    // Waits for every added file to end, then for the threads.
    ~CParallelTransfers();

    CParallelTransfers(const CParallelTransfers &) = delete;
    CParallelTransfers &operator=(const CParallelTransfers &) = delete;

    void add(Request request);
    // Files added whose outcome has not been taken yet.
    std::size_t unfinished() const;
    // Blocks until a file has ended; only while unfinished() is above 0.
    Outcome take();

private:
    void drive(Client &client);

    mutable std::mutex m_mutex;
    std::condition_variable m_requestAdded;
    std::condition_variable m_outcomeAdded;
    std::deque<Request> m_requests;
    std::deque<Outcome> m_outcomes;
    std::size_t m_unfinished = 0;
    bool m_closing = false;
    std::vector<std::unique_ptr<Client>> m_more;
    std::vector<std::thread> m_threads;
};
