// Counts, from outside the program, the intel records that appear in and leave a folder: a
// record file appears when it is moved (or created) under a name not starting with "." and
// leaves when it is deleted. Rewrites OUTFILE twice a second and at the end (SIGTERM/SIGINT):
//   written W removed R overflow O
// An overflow of the kernel's event queue makes the counts a lower bound; it is reported.
//   soak_watch DIR OUTFILE
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

volatile sig_atomic_t g_stop = 0;
void onStop(int) { g_stop = 1; }

void writeCounts(const std::string& file, unsigned long long written, unsigned long long removed,
                 unsigned long long overflow) {
    const std::string temp = file + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "written %llu removed %llu overflow %llu\n", written, removed, overflow);
    std::fclose(f);
    std::rename(temp.c_str(), file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: soak_watch DIR OUTFILE\n");
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = onStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 ||
        inotify_add_watch(fd, argv[1], IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM) < 0) {
        std::perror("soak_watch");
        return 1;
    }
    unsigned long long written = 0, removed = 0, overflow = 0;
    alignas(inotify_event) char buffer[64 * 1024];
    auto nextWrite = std::chrono::steady_clock::now();
    writeCounts(argv[2], 0, 0, 0);
    while (!g_stop) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            for (;;) {
                ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                for (char* q = buffer; q < buffer + n;) {
                    auto* e = reinterpret_cast<inotify_event*>(q);
                    q += sizeof(inotify_event) + e->len;
                    if (e->mask & IN_Q_OVERFLOW) ++overflow;
                    if (e->len == 0 || e->name[0] == '.' || (e->mask & IN_ISDIR)) continue;
                    if (e->mask & (IN_MOVED_TO | IN_CREATE)) ++written;
                    if (e->mask & (IN_DELETE | IN_MOVED_FROM)) ++removed;
                }
            }
        }
        if (std::chrono::steady_clock::now() >= nextWrite) {
            writeCounts(argv[2], written, removed, overflow);
            nextWrite += std::chrono::milliseconds(500);
        }
    }
    writeCounts(argv[2], written, removed, overflow);
    return 0;
}
