#include "paralleltransfers.h"

CParallelTransfers::CParallelTransfers(Client &first, std::vector<std::unique_ptr<Client>> more,
                                       const std::string &serverPath)
    : m_more(std::move(more))
{
    m_threads.emplace_back([this, &first] { drive(first); });
    for (const std::unique_ptr<Client> &client : m_more)
        m_threads.emplace_back([this, &client, serverPath] {
            if (client->Connect() && client->SetCurrentDirectory(serverPath))
                drive(*client);
            client->Close();
        });
}

CParallelTransfers::~CParallelTransfers()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_requestAdded.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

void CParallelTransfers::add(Request request)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(std::move(request));
        ++m_unfinished;
    }
    m_requestAdded.notify_one();
}

std::size_t CParallelTransfers::unfinished() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unfinished;
}

CParallelTransfers::Outcome CParallelTransfers::take()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_outcomeAdded.wait(lock, [this] { return !m_outcomes.empty(); });
    Outcome outcome = std::move(m_outcomes.front());
    m_outcomes.pop_front();
    --m_unfinished;
    return outcome;
}

void CParallelTransfers::drive(Client &client)
{
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_requestAdded.wait(lock, [this] { return m_closing || !m_requests.empty(); });
            if (m_requests.empty())
                return;
            request = std::move(m_requests.front());
            m_requests.pop_front();
        }
        Outcome outcome;
        outcome.index = request.index;
        if (request.delta.usable()) {
            const DeltaResult delta =
                fetchByDelta(client, request.name, request.folder, request.delta, request.options);
            outcome.arrived = outcome.byDelta = delta.arrived;
            outcome.fetched = delta.fetched;
        }
        // A server that stopped answering during the delta is not asked again.
        if (!outcome.arrived && !client.connectionLost())
            outcome.arrived = client.GetFile(request.name, request.folder, request.options);
        if (!outcome.arrived)
            outcome.error = client.lastError();
        outcome.connectionLost = client.connectionLost();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_outcomes.push_back(std::move(outcome));
        }
        m_outcomeAdded.notify_one();
    }
}
