// Load client for the service's HTTP port: epoll, keep-alive, one unit of work in flight per
// connection. Every reply is checked against the reply the same request got during calibration.
//
//   vexa_soak soak [--requests N] [--conns C] [--port P] [--only I]
//                                 mixed requests (or only unit I of the mix), prints counts and rate
//   vexa_soak hold [--conns C] [--port P]                   C idle keep-alive connections until stdin closes
//   vexa_soak startup --exec PROGRAM [--runs N] [--port P]  exec -> port accepting, N starts, median
//   vexa_soak flood [--requests N] [--seconds S] [--port P]
//                                 one connection pipelines up to N GetRoomArea and never reads, for
//                                 S seconds; a second one asks InfoData every 200 ms and times it
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include <chrono>
#include <fcntl.h>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Unit
{
    const char *pName;
    std::vector<std::string> vecBodies;  // more than one: sent pipelined in one write
};

// The mix: the page's frequent reads, two kinds of refusal and a pipelined pair.
const std::vector<Unit> kMix = {
    {"InfoData", {"{\"Msg\":\"InfoData\"}"}},
    {"GetRoomArea", {"{\"Msg\":\"GetRoomArea\"}"}},
    {"unknown command", {"{\"Msg\":\"NoSuchCommand\"}"}},
    {"not JSON", {"not json at all"}},
    {"pipelined pair", {"{\"Msg\":\"InfoData\"}", "{\"Msg\":\"GetRoomArea\"}"}},
};

struct Options
{
    std::string strMode = "soak";
    long long llRequests = 1000000;
    int nConns = 50;
    int nPort = 12380;
    int nOnly = -1;  // >= 0: send only that unit of the mix
    int nRuns = 10;
    int nSeconds = 10;
    std::string strExec;
};

struct Conn
{
    int nFd = -1;
    size_t unUnit = 0;         // index into kMix of the unit in flight
    size_t unRepliesSeen = 0;  // replies of that unit received so far
    std::string strRecv;
};

std::string buildPost(const std::string &strBody)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\nContent-Length: "
           + std::to_string(strBody.size()) + "\r\n\r\n" + strBody;
}

std::string unitBytes(const Unit &unit)
{
    std::string strOut;
    for (const std::string &strBody : unit.vecBodies)
        strOut += buildPost(strBody);
    return strOut;
}

int connectTo(int nPort)
{
    const int nFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (nFd < 0 || connect(nFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        std::perror("connect");
        std::exit(2);
    }
    int nOne = 1;
    setsockopt(nFd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
    return nFd;
}

bool sendAll(int nFd, const std::string &strData)
{
    size_t unDone = 0;
    while (unDone < strData.size()) {
        const ssize_t nSent = send(nFd, strData.data() + unDone, strData.size() - unDone, MSG_NOSIGNAL);
        if (nSent <= 0)
            return false;
        unDone += static_cast<size_t>(nSent);
    }
    return true;
}

// Cuts one complete reply off the front of the buffer; false while it is incomplete.
// A reply that is not "HTTP/1.1 200 OK" yields the body "<bad status>".
bool takeReply(std::string &strRecv, std::string &strBody)
{
    const size_t unEnd = strRecv.find("\r\n\r\n");
    if (unEnd == std::string::npos)
        return false;
    const size_t unLen = strRecv.find("Content-Length:");
    if (unLen == std::string::npos || unLen > unEnd)
        return false;
    const size_t unBody = std::strtoul(strRecv.c_str() + unLen + 15, nullptr, 10);
    if (strRecv.size() < unEnd + 4 + unBody)
        return false;
    const bool bOk = strRecv.compare(0, 17, "HTTP/1.1 200 OK\r\n") == 0;
    strBody = bOk ? strRecv.substr(unEnd + 4, unBody) : "<bad status>";
    strRecv.erase(0, unEnd + 4 + unBody);
    return true;
}

// Blocking read of exactly one reply on a fresh connection.
std::string readOneReply(int nFd, std::string &strRecv)
{
    std::string strBody;
    char szBuf[65536];
    while (!takeReply(strRecv, strBody)) {
        const ssize_t nRead = recv(nFd, szBuf, sizeof szBuf, 0);
        if (nRead <= 0) {
            std::fprintf(stderr, "connection closed before a reply\n");
            std::exit(2);
        }
        strRecv.append(szBuf, static_cast<size_t>(nRead));
    }
    return strBody;
}

// The reply each request of the mix gets, learnt once on one connection.
std::vector<std::vector<std::string>> calibrate(int nPort)
{
    std::vector<std::vector<std::string>> vecExpected;
    const int nFd = connectTo(nPort);
    std::string strRecv;
    for (const Unit &unit : kMix) {
        sendAll(nFd, unitBytes(unit));
        std::vector<std::string> vecReplies;
        for (size_t i = 0; i < unit.vecBodies.size(); ++i)
            vecReplies.push_back(readOneReply(nFd, strRecv));
        std::printf("  %-16s -> %s\n", unit.pName, vecReplies.front().substr(0, 60).c_str());
        vecExpected.push_back(vecReplies);
    }
    close(nFd);
    return vecExpected;
}

struct Counters
{
    long long llSent = 0;       // requests written
    long long llAnswered = 0;   // replies received
    long long llMismatch = 0;   // replies that differ from the calibrated one
};

class Soak
{
public:
    Soak(const Options &options, std::vector<std::vector<std::string>> vecExpected)
        : opt(options), vecExpected(std::move(vecExpected))
    {
        for (const Unit &unit : kMix)
            vecUnitBytes.push_back(unitBytes(unit));
    }

    int run();

private:
    void startNext(Conn &conn);
    bool onReadable(Conn &conn);

    Options opt;
    std::vector<std::vector<std::string>> vecExpected;
    std::vector<std::string> vecUnitBytes;
    std::vector<Conn> vecConns;
    Counters counters;
    long long llNextUnit = 0;
    int nOpen = 0;
};

void Soak::startNext(Conn &conn)
{
    if (counters.llSent >= opt.llRequests) {
        close(conn.nFd);
        conn.nFd = -1;
        --nOpen;
        return;
    }
    conn.unUnit = opt.nOnly >= 0 ? static_cast<size_t>(opt.nOnly)
                                 : static_cast<size_t>(llNextUnit++ % static_cast<long long>(kMix.size()));
    conn.unRepliesSeen = 0;
    if (!sendAll(conn.nFd, vecUnitBytes[conn.unUnit])) {
        std::fprintf(stderr, "send failed\n");
        std::exit(2);
    }
    counters.llSent += static_cast<long long>(kMix[conn.unUnit].vecBodies.size());
}

bool Soak::onReadable(Conn &conn)
{
    char szBuf[65536];
    const ssize_t nRead = recv(conn.nFd, szBuf, sizeof szBuf, 0);
    if (nRead <= 0)
        return false;
    conn.strRecv.append(szBuf, static_cast<size_t>(nRead));
    std::string strBody;
    while (takeReply(conn.strRecv, strBody)) {
        const std::vector<std::string> &vecWant = vecExpected[conn.unUnit];
        if (conn.unRepliesSeen >= vecWant.size() || strBody != vecWant[conn.unRepliesSeen])
            ++counters.llMismatch;
        ++counters.llAnswered;
        if (++conn.unRepliesSeen == vecWant.size())
            startNext(conn);
        if (conn.nFd < 0)
            break;
    }
    return true;
}

int Soak::run()
{
    const int nEpoll = epoll_create1(0);
    vecConns.resize(static_cast<size_t>(opt.nConns));
    const auto tStart = std::chrono::steady_clock::now();
    for (size_t i = 0; i < vecConns.size(); ++i) {
        vecConns[i].nFd = connectTo(opt.nPort);
        ++nOpen;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = i;
        epoll_ctl(nEpoll, EPOLL_CTL_ADD, vecConns[i].nFd, &ev);
        startNext(vecConns[i]);
    }
    std::vector<epoll_event> vecEvents(vecConns.size());
    while (nOpen > 0) {
        const int nReady = epoll_wait(nEpoll, vecEvents.data(), static_cast<int>(vecEvents.size()), 10000);
        if (nReady <= 0) {
            std::fprintf(stderr, "no reply for 10 s\n");
            break;
        }
        for (int i = 0; i < nReady; ++i) {
            Conn &conn = vecConns[vecEvents[static_cast<size_t>(i)].data.u64];
            if (conn.nFd >= 0 && !onReadable(conn)) {
                std::fprintf(stderr, "connection closed by the service\n");
                close(conn.nFd);
                conn.nFd = -1;
                --nOpen;
            }
        }
    }
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    std::printf("requests %lld answered %lld mismatched %lld seconds %.1f rate %.0f/s\n", counters.llSent,
                counters.llAnswered, counters.llMismatch, dSeconds, counters.llAnswered / dSeconds);
    close(nEpoll);
    return counters.llAnswered == counters.llSent && counters.llMismatch == 0 ? 0 : 1;
}

// Opens the connections, lets each complete one request (so the service holds a full record for
// it), then keeps them idle until standard input closes.
int hold(const Options &opt)
{
    std::vector<int> vecFds;
    const std::string strRequest = buildPost(kMix.front().vecBodies.front());
    for (int i = 0; i < opt.nConns; ++i) {
        const int nFd = connectTo(opt.nPort);
        std::string strRecv;
        sendAll(nFd, strRequest);
        readOneReply(nFd, strRecv);
        vecFds.push_back(nFd);
    }
    std::printf("holding %d connections\n", opt.nConns);
    std::fflush(stdout);
    char szBuf[64];
    while (read(0, szBuf, sizeof szBuf) > 0) {
    }
    for (int nFd : vecFds)
        close(nFd);
    return 0;
}

// Milliseconds until one InfoData is answered on nFd; -1 when not within 5 s or the server closed.
double timeProbe(int nFd)
{
    const auto tStart = std::chrono::steady_clock::now();
    if (!sendAll(nFd, buildPost(kMix.front().vecBodies.front())))
        return -1;
    std::string strRecv, strBody;
    char szBuf[4096];
    while (!takeReply(strRecv, strBody)) {
        const ssize_t nRead = recv(nFd, szBuf, sizeof szBuf, 0);  // SO_RCVTIMEO bounds the wait
        if (nRead <= 0)
            return -1;
        strRecv.append(szBuf, static_cast<size_t>(nRead));
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - tStart).count();
}

int flood(const Options &opt)
{
    const int nFlood = connectTo(opt.nPort);
    const int nProbe = connectTo(opt.nPort);
    fcntl(nFlood, F_SETFL, O_NONBLOCK);
    const timeval tvLimit{5, 0};
    setsockopt(nProbe, SOL_SOCKET, SO_RCVTIMEO, &tvLimit, sizeof tvLimit);
    const std::string strRequest = buildPost("{\"Msg\":\"GetRoomArea\"}");
    long long llSent = 0, llBytes = 0, llProbes = 0;
    size_t unPartial = 0;
    double dMaxMs = 0;
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(opt.nSeconds);
    while (std::chrono::steady_clock::now() < tEnd) {
        while (llSent < opt.llRequests) {  // as much as the kernel takes now
            const ssize_t nSent = send(nFlood, strRequest.data() + unPartial, strRequest.size() - unPartial, MSG_NOSIGNAL);
            if (nSent <= 0)
                break;
            llBytes += nSent;
            unPartial += static_cast<size_t>(nSent);
            if (unPartial == strRequest.size())
                unPartial = 0, ++llSent;
        }
        const double dMs = timeProbe(nProbe);
        if (dMs < 0) {
            std::printf("flood: probe %lld not answered within 5 s\n", llProbes + 1);
            return 1;
        }
        dMaxMs = std::max(dMaxMs, dMs), ++llProbes;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::printf("flood: %lld requests (%lld bytes) sent in %d s on one connection that never read; "
                "%lld InfoData on another, slowest answered in %.1f ms\n", llSent, llBytes, opt.nSeconds, llProbes, dMaxMs);
    close(nFlood);
    close(nProbe);
    return 0;
}

bool portAccepts(int nPort)
{
    const int nFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bOk = connect(nFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(nFd);
    return bOk;
}

// Milliseconds from fork+exec of the program until its port accepts a connection (polled every
// 1 ms); the program is then ended with SIGTERM. -1 when it did not come up within 30 s.
double timeOneStart(const Options &opt)
{
    const auto tStart = std::chrono::steady_clock::now();
    const pid_t nPid = fork();
    if (nPid == 0) {
        execl(opt.strExec.c_str(), opt.strExec.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    double dMs = -1;
    while (true) {
        const double dElapsed =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - tStart).count();
        if (portAccepts(opt.nPort)) {
            dMs = dElapsed;
            break;
        }
        if (dElapsed > 30000 || waitpid(nPid, nullptr, WNOHANG) == nPid)
            break;
        usleep(1000);
    }
    kill(nPid, SIGTERM);
    waitpid(nPid, nullptr, 0);
    return dMs;
}

int startup(const Options &opt)
{
    std::vector<double> vecMs;
    for (int i = 0; i < opt.nRuns; ++i) {
        const double dMs = timeOneStart(opt);
        std::printf("start %d: %.1f ms\n", i + 1, dMs);
        if (dMs < 0)
            return 1;
        vecMs.push_back(dMs);
        usleep(200000);  // let the port and the old process's resources go
    }
    std::sort(vecMs.begin(), vecMs.end());
    const size_t unMid = vecMs.size() / 2;
    const double dMedian = vecMs.size() % 2 ? vecMs[unMid] : (vecMs[unMid - 1] + vecMs[unMid]) / 2;
    std::printf("startup median %.1f ms (min %.1f, max %.1f) over %zu starts\n", dMedian, vecMs.front(),
                vecMs.back(), vecMs.size());
    return 0;
}

Options parse(int argc, char **argv)
{
    Options opt;
    if (argc > 1)
        opt.strMode = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string strKey = argv[i];
        const long long llValue = std::atoll(argv[i + 1]);
        if (strKey == "--requests")
            opt.llRequests = llValue;
        else if (strKey == "--conns")
            opt.nConns = static_cast<int>(llValue);
        else if (strKey == "--port")
            opt.nPort = static_cast<int>(llValue);
        else if (strKey == "--seconds")
            opt.nSeconds = static_cast<int>(llValue);
        else if (strKey == "--runs")
            opt.nRuns = static_cast<int>(llValue);
        else if (strKey == "--exec")
            opt.strExec = argv[i + 1];
        else if (strKey == "--only")
            opt.nOnly = static_cast<int>(llValue) % static_cast<int>(kMix.size());
    }
    return opt;
}
}

int main(int argc, char **argv)
{
    const Options opt = parse(argc, argv);
    if (opt.strMode == "hold")
        return hold(opt);
    if (opt.strMode == "flood")
        return flood(opt);
    if (opt.strMode == "startup" && !opt.strExec.empty())
        return startup(opt);
    if (opt.strMode != "soak") {
        std::fprintf(stderr, "usage: vexa_soak soak|hold|startup|flood [--requests N] [--seconds S] [--conns C] [--port P] [--only I] [--exec F --runs N]\n");
        return 2;
    }
    std::printf("calibration (one request of each kind):\n");
    Soak soak(opt, calibrate(opt.nPort));
    return soak.run();
}
