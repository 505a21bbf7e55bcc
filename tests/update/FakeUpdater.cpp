// Stands in for the updater in tests. Installed as ".../Updater.exe", it notes each start in
// "started.log" beside itself and stays alive while a file "hold" exists there (20 s at most).
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

int main()
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::read_symlink("/proc/self/exe").parent_path();
    std::ofstream(dir / "started.log", std::ios::app) << ::getpid() << '\n';
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (fs::exists(dir / "hold") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0;
}
