#include "Ser2Net.h"

#include "Deadline.h"

#include <QFile>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr int StartBoundMs = 10000;

// A TCP port of 127.0.0.1 that nothing listens on now; 0 when none can be had.
uint16_t FreeLoopbackPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(probe);
    return port;
}

// Whether something listens on 127.0.0.1:Port, as /proc/net/tcp tells (state 0A): asked
// without connecting, as a connection would make ser2net open its device.
bool Listening(uint16_t Port) {
    std::ifstream table("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", Port);
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot;
        std::string local;
        std::string remote;
        std::string state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") {
            return true;
        }
    }
    return false;
}

std::string Ser2NetProgram() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
        if (::access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

} // namespace

std::string TSer2Net::SerialConnector(const std::string& Device) {
    return "serialdev," + Device + ",9600n81,local";
}

TSer2Net::TSer2Net(std::string LineConnector) : Connector(std::move(LineConnector)) {}

TSer2Net::~TSer2Net() {
    Kill();
}

std::string TSer2Net::Url() const {
    return "rfc2217://127.0.0.1:" + std::to_string(TcpPort);
}

bool TSer2Net::Start() {
    Kill();
    const std::string program = Ser2NetProgram();
    if (program.empty()) {
        Error = "ser2net is not installed (scripts/install-deps installs it)";
        return false;
    }
    if (!Dir.isValid()) {
        Error = "no temporary directory";
        return false;
    }
    if (TcpPort == 0) {
        TcpPort = FreeLoopbackPort();
    }
    if (TcpPort == 0) {
        Error = "no free TCP port on 127.0.0.1";
        return false;
    }
    const std::string config = Dir.filePath(QStringLiteral("ser2net.yaml")).toStdString();
    const std::string pidFile = Dir.filePath(QStringLiteral("ser2net.pid")).toStdString();
    {
        std::ofstream file(config);
        file << "%YAML 1.1\n---\n"
             << "connection: &unit\n"
             << "    accepter: telnet(rfc2217),tcp(nodelay=true),127.0.0.1," << TcpPort << "\n"
             << "    connector: " << Connector << "\n"
             << "    options:\n"
             << "      chardelay: false\n";
        if (!file) {
            Error = "cannot write " + config;
            return false;
        }
    }
    Server = std::make_unique<TChildProcess>(
        std::vector<std::string>{program, "-n", "-d", "-c", config, "-P", pidFile});
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(StartBoundMs);
    while (!Listening(TcpPort)) {
        if (MsLeft(deadline) == 0) {
            Error = "ser2net does not listen on port " + std::to_string(TcpPort);
            Kill();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void TSer2Net::Kill() {
    if (Server) {
        Server->Signal(SIGKILL);
        Server->Wait(StartBoundMs);
        Server.reset();
    }
}

void TSer2Net::Pause() {
    if (Server) {
        Server->Signal(SIGSTOP);
    }
}

void TSer2Net::Resume() {
    if (Server) {
        Server->Signal(SIGCONT);
    }
}
