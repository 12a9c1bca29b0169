// A one-second recording of a real OpenJDK running RecordingWorkload, read back from its snapshot.
#include "SnapshotBytes.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>

namespace {

using snapshotbytes::Node;

// The line of the workload's source that carries "// line: NAME".
int sourceLine(const std::string& name) {
    std::ifstream source(WORKLOAD_SOURCE);
    int number = 0;
    for (std::string line; std::getline(source, line);) {
        number++;
        if (line.find("// line: " + name) != std::string::npos)
            return number;
    }
    return -1;
}

class RealJvmRecording : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch = new testsupport::ScratchDirectory();
        path = (scratch->path() / "recording.snapshot").string();
        std::string output = (scratch->path() / "stdout.txt").string();
        std::string command = std::string(JAVA) + " -Djdk.attach.allowAttachSelf=true -cp " + CLASSPATH +
                              " RecordingWorkload " + LIBRARY + " " + path + " >" + output;
        status = std::system(command.c_str());
        std::ifstream out(output);
        std::string word;
        out >> word >> ticks;
        std::string error;
        parsed = snapshotbytes::readFile(path, file, error);
        parseError = error;
    }
    static void TearDownTestSuite() { delete scratch; }

    const snapshotbytes::Thread& thread(const std::string& name) {
        const snapshotbytes::Thread* found = file.thread(name);
        if (found == nullptr)
            ADD_FAILURE() << "no thread " << name;
        static snapshotbytes::Thread none{};
        return found != nullptr ? *found : none;
    }
    // Visits every node with its parent (null for the root).
    void walk(const Node& node, const Node* parent,
              const std::function<void(const Node&, const Node*)>& visit) {
        visit(node, parent);
        for (const Node& child : node.children)
            walk(child, &node, visit);
    }
    // The node whose method is named (Class.method) with the most time of the chosen kind.
    const Node* busiest(const Node& root, const std::string& method, int64_t Node::*time) {
        const Node* best = nullptr;
        walk(root, nullptr, [&](const Node& node, const Node*) {
            if (file.methodName(node.method) == method && (best == nullptr || node.*time > best->*time))
                best = &node;
        });
        return best;
    }

    static testsupport::ScratchDirectory* scratch;
    static std::string path, parseError;
    static int status;
    static long ticks;
    static bool parsed;
    static snapshotbytes::File file;
};

testsupport::ScratchDirectory* RealJvmRecording::scratch;
std::string RealJvmRecording::path, RealJvmRecording::parseError;
int RealJvmRecording::status;
long RealJvmRecording::ticks;
bool RealJvmRecording::parsed;
snapshotbytes::File RealJvmRecording::file;

TEST_F(RealJvmRecording, TheSnapshotIsCompleteAndChecksOut) {
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(parsed) << parseError;
    std::printf("spinner sampled %ld times in the one-second recording (nominal 200)\n", ticks);
    // A loaded two-core machine delays ticks; far fewer means the timer is wrong.
    EXPECT_GE(ticks, 100);
    EXPECT_LE(ticks, 215);
    EXPECT_NE(file.vmName.find("OpenJDK"), std::string::npos) << file.vmName;
    EXPECT_EQ(file.javaVersion.substr(0, 3), "17.");
#ifdef SNAPSHOT_TOOL
    EXPECT_EQ(std::system((std::string(SNAPSHOT_TOOL) + " check " + path + " >/dev/null").c_str()), 0);
#endif
}

TEST_F(RealJvmRecording, TheHotMethodHoldsMostOfItsThreadsRunnableTime) {
    ASSERT_TRUE(parsed) << parseError;
    const Node& root = thread("spinner").root;
    ASSERT_EQ(root.children.size(), 1u);
    const Node& run = root.children[0];
    EXPECT_EQ(file.methodName(run.method), "RecordingWorkload$Spinner.run");
    const Node* hot = busiest(root, "RecordingWorkload.hot", &Node::runnable);
    ASSERT_NE(hot, nullptr) << file.tree(root);
    EXPECT_EQ(hot->line, sourceLine("hot-call"));
    EXPECT_GT(hot->runnable, root.runnable / 2) << file.tree(root);
    EXPECT_GT(root.runnable, 700000) << "the spinner runs the whole second";
    walk(root, nullptr, [&](const Node& node, const Node*) {
        if (&node != &root && &node != &run) {
            EXPECT_LE(node.runnable, hot->runnable) << file.methodName(node.method);
        }
    });
}

TEST_F(RealJvmRecording, BlockedWaitingAndNetworkTimeOnTheirThreads) {
    ASSERT_TRUE(parsed) << parseError;
    const Node* blocked = busiest(thread("blocked").root, "RecordingWorkload$Blocked.run", &Node::blocked);
    ASSERT_NE(blocked, nullptr);
    EXPECT_GT(blocked->blocked, 700000) << file.tree(thread("blocked").root);

    const Node* waiting = busiest(thread("waiter").root, "Object.wait", &Node::waiting);
    ASSERT_NE(waiting, nullptr) << file.tree(thread("waiter").root);
    EXPECT_GT(waiting->waiting, 700000);
    EXPECT_EQ(waiting->line, sourceLine("waiter-wait"));

    // Thread.sleep is ignored: the holder's sleep is charged to the method that called it.
    const Node* holder = busiest(thread("holder").root, "RecordingWorkload.sleepQuietly", &Node::waiting);
    ASSERT_NE(holder, nullptr) << file.tree(thread("holder").root);
    EXPECT_GT(holder->waiting, 700000) << file.tree(thread("holder").root);
    EXPECT_EQ(holder->line, sourceLine("holder-sleep"));

    const Node& reader = thread("reader").root;
    int64_t network = 0, runnable = reader.runnable;
    walk(reader, nullptr, [&](const Node& node, const Node*) { network += node.netio; });
    EXPECT_GT(network, 700000) << file.tree(reader);
    EXPECT_LT(runnable, network / 10) << "a socket read is network I/O, not runnable time";
}

TEST_F(RealJvmRecording, FiltersCollapseAndIgnoredClassesVanish) {
    ASSERT_TRUE(parsed) << parseError;
    auto filtered = [&](uint64_t method) {
        std::string name = file.className(method);
        return name.rfind("java.", 0) == 0 || name.rfind("sun.", 0) == 0 || name.rfind("jdk.", 0) == 0;
    };
    int filteredNodes = 0;
    for (const snapshotbytes::Thread& thread : file.threads) {
        walk(thread.root, nullptr, [&](const Node& node, const Node* parent) {
            if (node.method == 0)
                return;
            EXPECT_NE(file.className(node.method), "java.lang.Thread") << thread.name;
            if (filtered(node.method)) {
                filteredNodes++;
                EXPECT_FALSE(parent->method != 0 && filtered(parent->method))
                    << thread.name << ": " << file.methodName(node.method) << " inside "
                    << file.methodName(parent->method);
            }
        });
    }
    EXPECT_GT(filteredNodes, 0);
}

TEST_F(RealJvmRecording, ThreadsThatStartOrEndDuringTheRecordingCarryTheirTimes) {
    ASSERT_TRUE(parsed) << parseError;
    const snapshotbytes::Thread& ended = thread("ends-early");
    EXPECT_NE(ended.end, -1);
    EXPECT_GT(ended.end, file.recordingStart);
    const snapshotbytes::Thread& late = thread("starts-late");
    EXPECT_GT(late.start, file.recordingStart + 200000);
    EXPECT_EQ(late.end, -1);
    EXPECT_EQ(thread("spinner").start, file.recordingStart);
    EXPECT_LE(thread("spinner").start,
              thread("spinner").states.empty() ? file.writeTime : thread("spinner").states[0].second + 10000);
}

} // namespace
