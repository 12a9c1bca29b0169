// The summary views and the flame graph page on small snapshots built in memory.
#include "SnapshotViews.h"
#include "FlameGraph.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

namespace {

using snapshot::CallTreeNode;
using snapshot::TimeKind;

CallTreeNode node(uint64_t method, int64_t runnable, std::vector<CallTreeNode> children = {},
                  int64_t blocked = 0, int64_t waiting = 0, int64_t netio = 0) {
    CallTreeNode n;
    n.methodId = method;
    n.runnableTime = runnable;
    n.hasStateTimes = blocked || waiting || netio;
    n.blockedTime = blocked, n.waitingTime = waiting, n.networkIoTime = netio;
    n.children = std::move(children);
    return n;
}

// run -> work -> work (recursion) and run -> wait; a second thread with a ';' in its name.
snapshot::Snapshot sample() {
    snapshot::Snapshot s;
    s.recordingStart = 1000000;
    s.classes = {{0x30, "com.example.Work", 0}};
    s.methods = {{0x1, 0x30, "run", "()V"},
                 {0x2, 0x30, "work", "(Ljava/lang/String;)I"},
                 {0x3, 0x30, "wait", "()V"},
                 {0x4, 0x30, "evil</script>", "()V"}};
    snapshot::ThreadEntry worker;
    worker.name = "worker;1";
    worker.group = "main";
    worker.start = 1000000;
    worker.stateChanges = {{63, 1000000}, {65, 1020000}};
    worker.root = node(
        0, 9000, {node(0x1, 9000, {node(0x2, 8000, {node(0x2, 5000)}), node(0x3, 0, {}, 0, 1500)}, 2500)});
    snapshot::ThreadEntry other;
    other.name = "other";
    other.start = 1005000, other.end = 1008000;
    other.root = node(0, 1000, {node(0x1, 1000, {node(0x4, 1000)})});
    snapshot::ThreadEntry excluded;
    excluded.name = "_zentaro hidden";
    excluded.start = 1000000, excluded.end = 2000000;
    excluded.excluded = true;
    s.threads = {worker, other, excluded};
    return s;
}

TEST(SnapshotViews, SelfTimeTakesCalleesOutOfRunnableTimeOnly) {
    CallTreeNode n = node(0x1, 9000, {node(0x2, 8000), node(0x3, 500)}, 2500, 100, 7);
    struct Case {
        TimeKind kind;
        int64_t expected;
    } cases[] = {{TimeKind::runnable, 500},
                 {TimeKind::blocked, 2500},
                 {TimeKind::waiting, 100},
                 {TimeKind::networkIo, 7},
                 {TimeKind::all, 3107}};
    for (const Case& c : cases)
        EXPECT_EQ(snapshot::selfTime(n, c.kind), c.expected) << static_cast<int>(c.kind);
}

TEST(SnapshotViews, TopRanksBySelfTimeAndCountsRecursionOnce) {
    std::ostringstream out;
    snapshot::printTop(out, sample(), TimeKind::runnable, 10);
    EXPECT_EQ(out.str(), "        self        total  method\n"
                         "      8.0 ms       8.0 ms  com.example.Work.work(Ljava/lang/String;)I\n"
                         "      1.0 ms      10.0 ms  com.example.Work.run()V\n"
                         "      1.0 ms       1.0 ms  com.example.Work.evil</script>()V\n");
    std::ostringstream limited;
    snapshot::printTop(limited, sample(), TimeKind::waiting, 1);
    EXPECT_EQ(limited.str(), "        self        total  method\n"
                             "      1.5 ms       1.5 ms  com.example.Work.wait()V\n");
}

TEST(SnapshotViews, ThreadsShowLifetimeStateTotalsAndChanges) {
    std::ostringstream out;
    snapshot::printThreads(out, sample());
    std::string text = out.str();
    EXPECT_NE(text.find("\"worker;1\" in group \"main\": 0.0 ms to the end (alive)\n"
                        "  runnable 9.0 ms, blocked 2.5 ms, waiting 1.5 ms, network I/O 0.0 ms\n"
                        "  states: runnable at 0.0 ms; waiting at 20.0 ms;\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"other\": 5.0 ms to 8.0 ms\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"_zentaro hidden\": 0.0 ms to 1000.0 ms, excluded from sampling\n"),
              std::string::npos)
        << text;
}

TEST(SnapshotViews, CollapsedFollowsTheFoldedFormat) {
    std::ostringstream out;
    snapshot::printCollapsed(out, sample(), TimeKind::runnable);
    EXPECT_EQ(out.str(), "other;com.example.Work.run;com.example.Work.evil</script> 1000\n"
                         "worker_1;com.example.Work.run 1000\n"
                         "worker_1;com.example.Work.run;com.example.Work.work 3000\n"
                         "worker_1;com.example.Work.run;com.example.Work.work;com.example.Work.work 5000\n");
    // Every line: frames without blanks around the separators, then one blank and a positive count.
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(std::regex_match(line, std::regex("[^; ]+(;[^;]+)* [1-9][0-9]*"))) << line;

    std::ostringstream blocked;
    snapshot::printCollapsed(blocked, sample(), TimeKind::blocked);
    EXPECT_EQ(blocked.str(), "worker_1;com.example.Work.run 2500\n");
    std::ostringstream all;
    snapshot::printCollapsed(all, sample(), TimeKind::all);
    EXPECT_NE(all.str().find("worker_1;com.example.Work.run;com.example.Work.wait 1500\n"),
              std::string::npos);
    EXPECT_NE(all.str().find("worker_1;com.example.Work.run 3500\n"), std::string::npos);
}

TEST(SnapshotViews, FlameGraphIsOneSelfContainedPage) {
    std::ostringstream out;
    snapshot::writeFlameGraph(out, sample(), "recording <1>");
    std::string html = out.str();
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(html.find("http"), std::string::npos) << "no network access";
    EXPECT_EQ(html.find(" src="), std::string::npos);
    EXPECT_EQ(html.find("@DATA@"), std::string::npos);
    EXPECT_NE(html.find("<title>recording &lt;1&gt;</title>"), std::string::npos);
    // A method name cannot end the script early.
    size_t scriptStart = html.find("<script>"), scriptEnd = html.find("</script>");
    EXPECT_EQ(html.find("</script>", scriptEnd + 1), std::string::npos);
    EXPECT_NE(html.find("evil\\u003c/script>"), std::string::npos);
    std::string script = html.substr(scriptStart, scriptEnd - scriptStart);
    EXPECT_NE(script.find("[\"all threads\",0,10000,0,0,0,[[\"thread worker;1\",0,9000,0,0,0,"
                          "[[\"com.example.Work.run\",0,9000,2500,0,0,"),
              std::string::npos)
        << script;
    EXPECT_NE(script.find("[\"com.example.Work.wait\",0,0,0,1500,0,[]]"), std::string::npos);
    EXPECT_EQ(script.find("_zentaro hidden"), std::string::npos) << "excluded threads are left out";
    for (const char* feature : {"onclick", "search", "title", "dominant"})
        EXPECT_NE(script.find(feature), std::string::npos) << feature;
}

} // namespace
