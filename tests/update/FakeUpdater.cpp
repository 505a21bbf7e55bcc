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
    for (int i = 0; i < 1000 && fs::exists(dir / "hold"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}
