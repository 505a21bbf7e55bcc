#include <filesystem>
#include <fstream>
#include <unistd.h>

int main()
{
    const std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::ofstream(dir / "started.log", std::ios::app) << ::getpid() << '\n';
    for (int i = 0; i < 1000 && std::filesystem::exists(dir / "hold"); ++i)
        ::usleep(20000);
}
