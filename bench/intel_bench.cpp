// Figure 3: the intel pass. For 100, 1,000 and 10,000 waiting files: the time of
// loadIntelFiles (list, read, parse, delete, and one particle impact per record on the NULL
// driver), and of the file part alone (consumeIntelFolder with a sink that only counts). Also
// the writer's cost per file, and what a file of 64 records would cost per record.
#include <fcntl.h>

#include "bench_support.h"
#include "capture/intel_files.h"

namespace {

tessel::TrafficRecord record(int i) {
    tessel::TrafficRecord r;
    r.udp = 1;
    r.src = bench::foreignAddress(i % 40);
    r.dst = bench::foreignAddress(40 + i % 40);
    r.srcport = std::uint16_t(1024 + i % 5000);
    r.dstport = 53;
    r.size = 15360;
    return r;
}

// Seconds for writing `count` files.
double writeFiles(int count) {
    const bench::Clock::time_point start = bench::Clock::now();
    for (int i = 0; i < count; ++i) tessel::writeIntelFile(record(i));
    return bench::secondsSince(start);
}

}  // namespace

// Profiling aid: "intel_bench prepare N" leaves N files in ./intel; "intel_bench pass" runs one
// loadIntelFiles over ./intel, so a profiler sees the pass alone.
int profileStep(const std::string& step, int count) {
    if (step == "prepare") {
        mkdir("intel", 0755);
        writeFiles(count);
        return 0;
    }
    bench::BenchWorld world(irr::video::EDT_NULL);
    bench::BenchWorld::addNodes(2);
    const bench::Clock::time_point start = bench::Clock::now();
    tessel::loadIntelFiles(world.context);
    std::printf("pass: %.2f ms\n", bench::secondsSince(start) * 1000.0);
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1) return profileStep(argv[1], argc > 2 ? std::atoi(argv[2]) : 10000);
    bench::Scratch scratch;
    bench::BenchWorld world(irr::video::EDT_NULL);
    bench::BenchWorld::addNodes(2);
    irr::ITimer* timer = world.device->getTimer();
    timer->stop();
    timer->setTime(1000);

    double writeSeconds = 0;
    int written = 0;
    for (int count : {100, 1000, 10000}) {
        // Median of a few passes; each pass finds `count` fresh files.
        std::vector<double> full, filesOnly;
        const int passes = count >= 10000 ? 3 : 7;
        for (int pass = 0; pass < passes; ++pass) {
            writeSeconds += writeFiles(count);
            written += count;
            const std::size_t waiting = bench::intelFileCount();
            bench::Clock::time_point start = bench::Clock::now();
            tessel::loadIntelFiles(world.context);
            full.push_back(bench::secondsSince(start));
            if (bench::intelFileCount() != 0 || waiting != std::size_t(count))
                std::fprintf(stderr, "pass left files behind (%zu waiting before)\n", waiting);
            // Impacts of earlier passes are gone long before the next pass in the program.
            timer->setTime(timer->getTime() + 3000);
            world.device->getSceneManager()->drawAll();  // runs the delete animators

            writeSeconds += writeFiles(count);
            written += count;
            long records = 0;
            start = bench::Clock::now();
            tessel::consumeIntelFolder("intel", [&](const tessel::IntelAnode&) { ++records; });
            filesOnly.push_back(bench::secondsSince(start));
            if (records != count) std::fprintf(stderr, "read %ld of %d records\n", records, count);
        }
        const double perThousand = bench::median(full) * 1000.0 / count * 1000.0;
        const double filesPerThousand = bench::median(filesOnly) * 1000.0 / count * 1000.0;
        const std::string n = std::to_string(count);
        bench::row("3", "loadIntelFiles, " + n + " files", bench::median(full) * 1000.0, "ms", "-",
                   "-");
        bench::row("3", "loadIntelFiles per 1000 files (" + n + " waiting)", perThousand, "ms",
                   "<= 2", bench::verdict(perThousand <= 2.0));
        bench::row("3", "file part only per 1000 files (" + n + " waiting)", filesPerThousand, "ms",
                   "-", "-");
    }
    bench::row("3", "writeIntelFile per file", writeSeconds / written * 1e6, "us", "-", "-");

    // What one file of 64 records would cost per record (written with the same calls).
    {
        std::string content = "<?xml version='1.0'?>\n<map>\n";
        for (int i = 0; i < 64; ++i) {
            const std::string one = tessel::intelFileContent(record(i));
            const std::size_t from = one.find("<anode"), to = one.find("</map>");
            content += one.substr(from, to - from);
        }
        content += "</map>\n";
        const int files = 500;
        const bench::Clock::time_point start = bench::Clock::now();
        for (int i = 0; i < files; ++i) {
            const std::string temp = "intel/.batch.tmp", name = "intel/batch." + std::to_string(i);
            int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) break;
            ssize_t n = write(fd, content.data(), content.size());
            (void)n;
            close(fd);
            renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
        }
        const double perRecord = bench::secondsSince(start) / (files * 64.0) * 1e6;
        long records = 0;
        const bench::Clock::time_point read = bench::Clock::now();
        tessel::consumeIntelFolder("intel", [&](const tessel::IntelAnode&) { ++records; });
        const double readPerThousand = bench::secondsSince(read) / double(records) * 1e6;
        bench::row("3", "proposal: 64 records per file, writing per record", perRecord, "us", "-",
                   "-");
        bench::row("3", "proposal: 64 records per file, file part per 1000 records",
                   readPerThousand, "ms", "-", "-");
    }
    return 0;
}
