// Writing a snapshot with a large call tree against writing as many bytes with plain fwrite, side by
// side in one run. Both go to files in the same directory; rounds alternate the two.
#include "CallTreeSampler.h"
#include "ClassProfilingSession.h"
#include "ProfilingSession.h"
#include "Recording.h"
#include "Sampler.h"
#include "ScriptedJvm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A tree of fanout^levels leaves below the thread's root, every node with times, a third with
// state times.
void growTree(CallTreeNode* parent, const std::vector<MethodDesc*>& methods, int fanout, int levels,
              int& serial) {
    if (levels == 0)
        return;
    for (int i = 0; i < fanout; i++) {
        CallTreeNode* node =
            newCallTreeNode(methods[serial % methods.size()], static_cast<int16_t>(serial % 3000));
        node->ownRunnableTime = serial * 37;
        if (serial % 3 == 0)
            node->stateTimes = new StateTimes{serial * 2LL, serial * 3LL, serial * 5LL};
        serial++;
        node->parent = parent;
        node->nextSibling = parent->firstChild;
        parent->firstChild = node;
        growTree(node, methods, fanout, levels - 1, serial);
    }
}

double plainWriteSeconds(const std::filesystem::path& path, const std::vector<char>& data) {
    Clock::time_point start = Clock::now();
    FILE* file = std::fopen(path.string().c_str(), "w+b");
    for (size_t offset = 0; offset < data.size(); offset += 16384)
        std::fwrite(data.data() + offset, 1, std::min<size_t>(16384, data.size() - offset), file);
    std::fclose(file);
    return secondsSince(start);
}

} // namespace

int main() {
    ScriptedJvm jvm;
    jvmti = jvm.jvmti();
    session.classProfilingSession = new ClassProfilingSession();
    ThreadRegistry registry;
    threadRegistry = session.threadRegistry = &registry;

    std::vector<MethodDesc*> methods;
    for (int i = 0; i < 2000; i++) {
        jmethodID id =
            jvm.method("Lbench/Class" + std::to_string(i / 20) + ";", "method" + std::to_string(i), "()V");
        methods.push_back(session.classProfilingSession->lookupMethod(id, jvm.jni()));
    }
    for (int t = 0; t < 8; t++) {
        jvm.currentThread = jvm.thread("worker-" + std::to_string(t));
        ThreadRecord* record = registerThread(jvm.currentThread, jvm.jni());
        int serial = t;
        growTree(record->root, methods, 8, 6, serial); // 299592 nodes per thread
    }

    std::filesystem::path directory = std::filesystem::temp_directory_path();
    std::filesystem::path snapshotPath = directory / "zentaro-bench-snapshot.bin";
    std::filesystem::path plainPath = directory / "zentaro-bench-plain.bin";
    writeSnapshot(snapshotPath.u16string().c_str(), jvm.jni()); // warm the page cache
    std::vector<char> data(std::filesystem::file_size(snapshotPath), 'x');
    plainWriteSeconds(plainPath, data);

    std::printf("writeSnapshot (big-endian encoding, CRC-32 per section) against plain fwrite of the same\n"
                "%zu bytes in 16 KB calls; 7 alternating rounds, medians.\n\n",
                data.size());
    std::vector<double> snapshotSpeed, plainSpeed, ratios;
    for (int round = 0; round < 7; round++) {
        Clock::time_point start = Clock::now();
        bool written = writeSnapshot(snapshotPath.u16string().c_str(), jvm.jni());
        double snapshotSeconds = secondsSince(start);
        double plainSeconds = plainWriteSeconds(plainPath, data);
        if (!written) {
            std::fprintf(stderr, "writeSnapshot failed\n");
            return 1;
        }
        snapshotSpeed.push_back(data.size() / snapshotSeconds / 1e6);
        plainSpeed.push_back(data.size() / plainSeconds / 1e6);
        ratios.push_back(plainSeconds / snapshotSeconds);
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::printf(
        "writeSnapshot  %8.1f MB/s\nplain fwrite   %8.1f MB/s\nratio (snapshot/plain, per round) %.2f "
        "(goal >= 0.50)\n",
        median(snapshotSpeed), median(plainSpeed), median(ratios));

    releaseThreadRecords(jvm.jni());
    threadRegistry = session.threadRegistry = nullptr;
    std::filesystem::remove(snapshotPath);
    std::filesystem::remove(plainPath);
    jvmti = nullptr;
    return 0;
}
