// mibwalk end to end against a scripted agent: a UDP responder on 127.0.0.1
// that answers each GetNextRequest from a table of its own, or with whatever
// crafted datagrams a case needs.
#include "tests/ber_craft.h"
#include "tests/support.h"

#include "platform/log.h"
#include "tool/tool.h"
#include "tool/walk.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

using namespace testing_support;
using ber::Bytes;

namespace {

#ifdef MIBWALK_PATH
const std::string mibwalk = MIBWALK_PATH;
#else
const std::string mibwalk;
#endif

std::vector<uint32_t> arcs(const std::string &dotted) {
    std::vector<uint32_t> out;
    size_t pos = 0;
    while (pos <= dotted.size()) {
        size_t dot = dotted.find('.', pos);
        if (dot == std::string::npos)
            dot = dotted.size();
        out.push_back(static_cast<uint32_t>(std::stoul(dotted.substr(pos, dot - pos))));
        pos = dot + 1;
    }
    return out;
}

struct OidLess {
    bool operator()(const std::string &a, const std::string &b) const { return arcs(a) < arcs(b); }
};

// The agent's variables: dotted name -> encoded value (tag, length, content).
using Mib = std::map<std::string, Bytes, OidLess>;

// What an agent without tricks answers: each name's successor, or noSuchName.
Bytes answerFrom(const Mib &mib, const ber::Message &req) {
    std::vector<Bytes> binds;
    for (size_t i = 0; i < req.binds.size(); ++i) {
        auto it = mib.upper_bound(req.binds[i].name);
        if (it == mib.end())
            return ber::response(req.requestId, {}, 2, static_cast<int64_t>(i + 1));
        binds.push_back(ber::varBind(it->first, it->second));
    }
    return ber::response(req.requestId, binds);
}

struct ScriptedAgent {
    // Given a request, the datagrams to send back, in order.
    using Script = std::function<std::vector<Bytes>(const ber::Message &req)>;
    UdpPeer peer;
    Script script;
    std::mutex lock;
    std::vector<ber::Message> requests;
    std::vector<Bytes> raw;
    std::atomic<int> clientPort{0};
    std::atomic<bool> stopping{false};
    std::thread thread;

    explicit ScriptedAgent(Script s) : script(std::move(s)) {
        thread = std::thread([this] { serve(); });
    }
    ~ScriptedAgent() {
        stopping = true;
        thread.join();
    }
    void serve() {
        while (!stopping) {
            Bytes in;
            int from = 0;
            if (!peer.receive(in, from, 20))
                continue;
            clientPort = from;
            auto msg = ber::parse(in);
            std::vector<Bytes> out;
            {
                std::lock_guard<std::mutex> g(lock);
                raw.push_back(in);
                if (msg)
                    requests.push_back(*msg);
            }
            if (msg)
                out = script(*msg);
            for (const auto &d : out)
                peer.sendTo(from, d);
        }
    }
    std::vector<ber::Message> seen() {
        std::lock_guard<std::mutex> g(lock);
        return requests;
    }
    std::vector<int64_t> ids() {
        std::vector<int64_t> out;
        for (const auto &r : seen())
            out.push_back(r.requestId);
        return out;
    }
};

// A working directory without definitions and a registry that names no file,
// so that names print in dotted form.
struct WalkEnv {
    TempDir dir;
    std::map<std::string, std::string> env{{"TARNOQSNMP_REGISTRY", ""}};
    WalkEnv() { env["TARNOQSNMP_REGISTRY"] = dir.file("no-registry"); }
    void definitions(const std::string &text) {
        mkdir((dir.path + "/etc").c_str(), 0700);
        writeFile(dir.file("etc/snmp.def"), text);
    }
    ProcessResult run(const ScriptedAgent &agent, std::vector<std::string> args,
                      int timeoutSeconds = 20) {
        std::vector<std::string> argv{mibwalk, "-h", "127.0.0.1", "-p",
                                      std::to_string(agent.peer.port)};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(argv, dir.path, env, timeoutSeconds);
    }
};

std::string line(const std::string &name, const std::string &kind, const std::string &value) {
    return "Name: " + name + " Kind: " + kind + " Value: " + value + " \n";
}

const Mib systemMib = {
    {"1.3.6.1.2.1.1.1.0", ber::octets("box")},
    {"1.3.6.1.2.1.1.2.0", ber::oid("1.3.6.1.4.1.32473")},
    {"1.3.6.1.2.1.1.3.0", ber::ticks(1234)},
    {"1.3.6.1.2.1.2.1.0", ber::integer(2)},
    {"1.3.6.1.2.1.2.2.1.1.1", ber::integer(1)},
    {"1.3.6.1.2.1.2.2.1.1.2", ber::integer(2)},
    {"1.3.6.1.2.1.2.2.1.2.1", ber::octets("lo")},
    {"1.3.6.1.2.1.2.2.1.2.2", ber::octets("eth0")},
    {"1.3.6.1.2.1.2.2.1.3.1", ber::integer(24)},
};

const std::string systemLines = line("1.3.6.1.2.1.1.1.0", "OctetString", "\"box\"") +
                                line("1.3.6.1.2.1.1.2.0", "ObjectId", "1.3.6.1.4.1.32473") +
                                line("1.3.6.1.2.1.1.3.0", "TimeTicks", "1234");

class WalkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (mibwalk.empty())
            GTEST_SKIP() << "mibwalk is not built";
    }
    WalkEnv w;
};

TEST_F(WalkTest, OneColumnEndsSilentlyAtTheFirstObjectOutside) {
    ScriptedAgent agent(
        [](const ber::Message &r) { return std::vector<Bytes>{answerFrom(systemMib, r)}; });
    auto r = w.run(agent, {"1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, systemLines);
    auto reqs = agent.seen();
    ASSERT_EQ(reqs.size(), 4u); // the fourth answer leaves the subtree
    EXPECT_EQ(agent.ids(), (std::vector<int64_t>{0, 1, 2, 3}));
    for (const auto &q : reqs) {
        EXPECT_EQ(q.pduTag, 0xA1);
        EXPECT_EQ(q.community, "public");
        EXPECT_EQ(q.version, 0);
        ASSERT_EQ(q.binds.size(), 1u);
    }
    EXPECT_EQ(reqs[0].binds[0].name, "1.3.6.1.2.1.1");
    EXPECT_EQ(reqs[0].binds[0].value.tag, 0x05);
    // Each next request carries the name and value that came back.
    EXPECT_EQ(reqs[3].binds[0].name, "1.3.6.1.2.1.1.3.0");
    EXPECT_EQ(reqs[3].binds[0].value.tag, 0x43);
}

TEST_F(WalkTest, TwoColumnsPrintAPairAndAnEmptyLineEachStep) {
    ScriptedAgent agent(
        [](const ber::Message &r) { return std::vector<Bytes>{answerFrom(systemMib, r)}; });
    auto r = w.run(agent, {"1.3.6.1.2.1.2.2.1.1", "1.3.6.1.2.1.2.2.1.2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, line("1.3.6.1.2.1.2.2.1.1.1", "Integer", "1") +
                         line("1.3.6.1.2.1.2.2.1.2.1", "OctetString", "\"lo\"") + "\n" +
                         line("1.3.6.1.2.1.2.2.1.1.2", "Integer", "2") +
                         line("1.3.6.1.2.1.2.2.1.2.2", "OctetString", "\"eth0\"") + "\n");
    auto reqs = agent.seen();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[2].binds.size(), 2u);
}

TEST_F(WalkTest, NoSuchNamePrintsEndOfMib) {
    ScriptedAgent agent(
        [](const ber::Message &r) { return std::vector<Bytes>{answerFrom(systemMib, r)}; });
    auto r = w.run(agent, {"1.3.6.1.2.1.2.2.1.3"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, line("1.3.6.1.2.1.2.2.1.3.1", "Integer", "24") + "End of MIB\n");
}

TEST_F(WalkTest, ErrorStatusPrintsTheErrorBlock) {
    struct Case {
        int64_t status, index;
        std::string shown;
    };
    for (const Case &c : {Case{1, 0, "tooBig"}, Case{3, 1, "badValue"}, Case{5, 1, "genErr"},
                          Case{9, 1, "unknown(9)"}}) {
        ScriptedAgent agent([&c](const ber::Message &r) {
            return std::vector<Bytes>{ber::response(
                r.requestId, {ber::varBind("1.3.6.1.2.1.1", ber::null())}, c.status, c.index)};
        });
        auto r = w.run(agent, {"-i", "7", "1.3.6.1.2.1.1"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "\nRequest Id: 7\nError: " + c.shown +
                             "\nIndex: " + std::to_string(c.index) + "\nCount: 1\n");
        EXPECT_EQ(agent.ids(), std::vector<int64_t>{7});
    }
}

TEST_F(WalkTest, DuplicateAnswersAreIgnored) {
    ScriptedAgent agent([](const ber::Message &r) {
        Bytes a = answerFrom(systemMib, r);
        return std::vector<Bytes>{a, a};
    });
    auto r = w.run(agent, {"1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, systemLines);
    EXPECT_EQ(agent.ids(), (std::vector<int64_t>{0, 1, 2, 3}));
}

TEST_F(WalkTest, ANameThatSharesOnlyPartOfTheLastArcLeavesTheSubtree) {
    ScriptedAgent agent([](const ber::Message &r) {
        return std::vector<Bytes>{
            ber::response(r.requestId, {ber::varBind("1.3.6.1.2.1.10.1", ber::integer(1))})};
    });
    auto r = w.run(agent, {"1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(agent.ids().size(), 1u);
}

TEST_F(WalkTest, LateAnswerToAnEarlierIdIsIgnored) {
    ScriptedAgent agent([](const ber::Message &r) {
        std::vector<Bytes> out;
        if (r.requestId == 6) // a late copy of the answer to 5, with another value
            out.push_back(ber::response(5, {ber::varBind("1.3.6.1.2.1.1.9.0", ber::integer(99))}));
        out.push_back(answerFrom(systemMib, r));
        return out;
    });
    auto r = w.run(agent, {"-i", "5", "1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, systemLines);
    EXPECT_EQ(agent.ids(), (std::vector<int64_t>{5, 6, 7, 8}));
}

TEST_F(WalkTest, RequestIdsWrapPastTwoToThe31) {
    // Sent as unsigned, so the id after 2147483647 goes out as 00 80 00 00 00;
    // one agent echoes those octets, the other re-encodes the id as signed.
    for (bool reencode : {false, true}) {
        ScriptedAgent agent([reencode](ber::Message r) {
            if (reencode)
                r.requestId = static_cast<int32_t>(static_cast<uint32_t>(r.requestId));
            return std::vector<Bytes>{answerFrom(systemMib, r)};
        });
        auto r = w.run(agent, {"-i", "2147483646", "1.3.6.1.2.1.1"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, systemLines);
        EXPECT_EQ(agent.ids(),
                  (std::vector<int64_t>{2147483646, 2147483647, 2147483648, 2147483649}));
    }
}

// As many names as fit in one 2048-octet request walk; one more cannot be sent.
TEST_F(WalkTest, NamesUpToOneFullRequest) {
    for (size_t count : {288u, 289u}) {
        ScriptedAgent agent([](const ber::Message &r) {
            std::vector<Bytes> binds;
            for (const auto &b : r.binds)
                binds.push_back(ber::varBind(b.name, ber::null()));
            return std::vector<Bytes>{ber::response(r.requestId, binds, 2, 1)};
        });
        auto r = w.run(agent, std::vector<std::string>(count, "1.3"));
        std::lock_guard<std::mutex> g(agent.lock);
        if (count == 288) {
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, "End of MIB\n");
            ASSERT_EQ(agent.raw.size(), 1u);
            EXPECT_EQ(agent.raw[0].size(), 2048u);
        } else {
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.out, mibwalk + ": Error sending protocol request\n");
            EXPECT_TRUE(agent.raw.empty());
        }
    }
}

TEST_F(WalkTest, CommunityLengthLimit) {
    ScriptedAgent agent(
        [](const ber::Message &r) { return std::vector<Bytes>{answerFrom(systemMib, r)}; });
    auto r = w.run(agent, {"-c", std::string(17, 'c'), "1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, mibwalk + ": Error sending protocol request\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(agent.seen().empty());

    // Sixteen characters still fit; answers must carry the same community.
    std::string sixteen(16, 'c');
    ScriptedAgent agent16([&sixteen](const ber::Message &q) {
        Bytes a = answerFrom(systemMib, q);
        auto m = ber::parse(a);
        std::vector<Bytes> binds;
        for (const auto &b : m->binds)
            binds.push_back(ber::varBind(b.name, ber::tlv(b.value.tag, b.value.content)));
        return std::vector<Bytes>{ber::response(q.requestId, binds, m->status, m->index, sixteen)};
    });
    r = w.run(agent16, {"-c", sixteen, "1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, systemLines);
    ASSERT_FALSE(agent16.seen().empty());
    EXPECT_EQ(agent16.seen()[0].community, sixteen);
}

TEST_F(WalkTest, AnswerUnderAnotherCommunityIsRefused) {
    ScriptedAgent agent([](const ber::Message &r) {
        return std::vector<Bytes>{
            ber::response(r.requestId, {ber::varBind("1.3.6.1.2.1.1.1.0", ber::integer(1))}, 0, 0,
                          "private"),
            ber::response(r.requestId, {ber::varBind("1.3.6.1.2.1.2.1.0", ber::integer(1))})};
    });
    auto r = w.run(agent, {"1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ""); // only the second answer counted, and it left the subtree
}

TEST_F(WalkTest, SilenceEndsWithRequestTimedOut) {
    ScriptedAgent agent([](const ber::Message &) { return std::vector<Bytes>{}; });
    auto start = std::chrono::steady_clock::now();
    auto r = w.run(agent, {"-t", "2", "1.3.6.1.2.1.1"});
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, "Request Timed Out\n");
    EXPECT_GE(took, 1.9);
    EXPECT_LT(took, 8.0);
}

TEST_F(WalkTest, IgnoredDatagramsKeepTheWalkAlive) {
    // For 3.5 seconds the agent sends only answers with a wrong id, one every
    // half second; then the real answers. With -t 2 the walk must survive.
    std::atomic<bool> answering{false};
    ScriptedAgent agent([&answering](const ber::Message &r) {
        if (!answering)
            return std::vector<Bytes>{};
        return std::vector<Bytes>{answerFrom(systemMib, r)};
    });
    BackgroundProcess walk({mibwalk, "-h", "127.0.0.1", "-p", std::to_string(agent.peer.port), "-t",
                            "2", "1.3.6.1.2.1.1"},
                           w.dir.path, w.env);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(3500);
    while (std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (agent.clientPort)
            agent.peer.sendTo(
                agent.clientPort,
                ber::response(4242, {ber::varBind("1.3.6.1.2.1.1.1.0", ber::null())}));
    }
    ASSERT_TRUE(walk.running()) << walk.out();
    answering = true;
    ASSERT_FALSE(agent.seen().empty());
    // Answer the first request now, as an agent that was slow.
    agent.peer.sendTo(agent.clientPort, answerFrom(systemMib, agent.seen()[0]));
    for (int i = 0; i < 300 && walk.running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(walk.stop(), 0);
    EXPECT_EQ(walk.out(), systemLines);
}

TEST_F(WalkTest, NoNamesSendsARequestWithoutBindings) {
    ScriptedAgent agent(
        [](const ber::Message &r) { return std::vector<Bytes>{ber::response(r.requestId, {})}; });
    auto r = w.run(agent, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ""); // an empty answer cannot advance: the walk ends
    auto reqs = agent.seen();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_TRUE(reqs[0].binds.empty());
    EXPECT_EQ(reqs[0].pduTag, 0xA1);
    // The request's binding list is an empty SEQUENCE: ... 30 00 at the end.
    const Bytes &raw = agent.raw[0];
    ASSERT_GE(raw.size(), 2u);
    EXPECT_EQ(raw[raw.size() - 2], 0x30);
    EXPECT_EQ(raw[raw.size() - 1], 0x00);
}

TEST_F(WalkTest, EmptyAnswerEndsTheWalk) {
    ScriptedAgent agent(
        [](const ber::Message &r) { return std::vector<Bytes>{ber::response(r.requestId, {})}; });
    auto r = w.run(agent, {"1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(agent.seen().size(), 1u); // nothing more was sent
}

TEST_F(WalkTest, MoreBindingsThanNamesEndTheWalk) {
    ScriptedAgent agent([](const ber::Message &r) {
        return std::vector<Bytes>{
            ber::response(r.requestId, {ber::varBind("1.3.6.1.2.1.1.1.0", ber::integer(1)),
                                        ber::varBind("1.3.6.1.2.1.1.2.0", ber::integer(2))})};
    });
    auto r = w.run(agent, {"1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(agent.seen().size(), 1u);
}

TEST_F(WalkTest, FollowUpThatCannotBeEncodedEndsWithStatus2) {
    // An IpAddress of five octets prints, but cannot be sent back in the next
    // request. (A value of a type outside the message grammar never gets this
    // far: the decoder refuses the whole datagram.)
    for (const Bytes &value : {ber::ipAddress({10, 0, 0, 1, 9})}) {
        ScriptedAgent agent([&value](const ber::Message &r) {
            return std::vector<Bytes>{
                ber::response(r.requestId, {ber::varBind("1.3.6.1.2.1.1.1.0", value)})};
        });
        auto r = w.run(agent, {"-t", "5", "1.3.6.1.2.1.1"});
        EXPECT_EQ(r.status, 2);
        std::string kind = value[0] == 0x40 ? "IpAddress" : "None";
        EXPECT_EQ(r.out, line("1.3.6.1.2.1.1.1.0", kind, "GARBLED") + mibwalk +
                             ": Error sending protocol request\n");
    }
}

TEST_F(WalkTest, NameThatDoesNotIncreaseEndsWithStatus2) {
    struct Case {
        std::string label;
        std::vector<std::string> names;                    // the walk's columns
        std::function<std::vector<Bytes>(int64_t)> answer; // by request id
        std::string out;                                   // after the program name's line
        int status;
    };
    auto same = [](int64_t id) {
        // The first answer is sound; the second repeats it.
        return std::vector<Bytes>{
            ber::response(id, {ber::varBind("1.3.6.1.2.1.1.1.0", ber::integer(1))})};
    };
    auto earlier = [](int64_t id) {
        return std::vector<Bytes>{ber::response(
            id,
            {ber::varBind(id == 0 ? "1.3.6.1.2.1.1.5.0" : "1.3.6.1.2.1.1.4.0", ber::integer(1))})};
    };
    auto asked = [](int64_t id) {
        // The very name it was asked for.
        (void)id;
        return std::vector<Bytes>{ber::response(id, {ber::varBind("1.3.6.1.2.1.1", ber::null())})};
    };
    auto secondColumn = [](int64_t id) {
        // Column 1 advances, column 2 stands still: nothing of it prints.
        return std::vector<Bytes>{ber::response(
            id, {ber::varBind(id == 0 ? "1.3.6.1.2.1.1.1.0" : "1.3.6.1.2.1.1.2.0", ber::integer(1)),
                 ber::varBind("1.3.6.1.2.1.2.1.0", ber::integer(2))})};
    };
    auto leavesFirst = [](int64_t id) {
        // Column 1 leaves its subtree before column 2 is judged: silent end.
        return std::vector<Bytes>{ber::response(
            id, {ber::varBind(id == 0 ? "1.3.6.1.2.1.1.1.0" : "1.3.6.1.2.1.3.1.0", ber::integer(1)),
                 ber::varBind("1.3.6.1.2.1.2.1.0", ber::integer(2))})};
    };
    std::string longName = "1.3.6.1.2.1.1";
    while (longName.size() <= 300)
        longName += ".1000000";
    auto longSame = [longName](int64_t id) {
        return std::vector<Bytes>{ber::response(id, {ber::varBind(longName, ber::integer(1))})};
    };
    auto padded = [](int64_t id) {
        // 1.3.6.1.2.1.1.5.0, then the same name with its 5 padded to 80 05.
        Bytes name = ber::oidContent("1.3.6.1.2.1.1.5.0");
        if (id != 0)
            name.insert(name.end() - 2, 0x80);
        return std::vector<Bytes>{
            ber::response(id, {ber::tlv(0x30, ber::cat({ber::tlv(0x06, name), ber::integer(1)}))})};
    };
    const std::string one = line("1.3.6.1.2.1.1.1.0", "Integer", "1");
    const std::vector<Case> cases = {
        {"same", {"1.3.6.1.2.1.1"}, same, one + "@: OID not increasing: 1.3.6.1.2.1.1.1.0\n", 2},
        {"earlier",
         {"1.3.6.1.2.1.1"},
         earlier,
         line("1.3.6.1.2.1.1.5.0", "Integer", "1") + "@: OID not increasing: 1.3.6.1.2.1.1.4.0\n",
         2},
        {"asked", {"1.3.6.1.2.1.1"}, asked, "@: OID not increasing: 1.3.6.1.2.1.1\n", 2},
        // Decoded, 80 05 is 5: the same name again, though its octets sort after.
        {"padded",
         {"1.3.6.1.2.1.1"},
         padded,
         line("1.3.6.1.2.1.1.5.0", "Integer", "1") + "@: OID not increasing: 1.3.6.1.2.1.1.5.0\n",
         2},
        // A name of over 256 characters prints no name in its line, and cut in the message.
        {"long",
         {"1.3.6.1.2.1.1"},
         longSame,
         "Kind: Integer Value: 1 \n@: OID not increasing: " + longName.substr(0, 256) + "\n",
         2},
        {"second column",
         {"1.3.6.1.2.1.1", "1.3.6.1.2.1.2"},
         secondColumn,
         one + line("1.3.6.1.2.1.2.1.0", "Integer", "2") + "\n" +
             "@: OID not increasing: 1.3.6.1.2.1.2.1.0\n",
         2},
        {"first leaves",
         {"1.3.6.1.2.1.1", "1.3.6.1.2.1.2"},
         leavesFirst,
         one + line("1.3.6.1.2.1.2.1.0", "Integer", "2") + "\n",
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        ScriptedAgent agent([&c](const ber::Message &r) { return c.answer(r.requestId); });
        std::vector<std::string> args{"-t", "5"};
        args.insert(args.end(), c.names.begin(), c.names.end());
        auto r = w.run(agent, args);
        std::string expected = c.out;
        size_t at = expected.find('@');
        if (at != std::string::npos)
            expected.replace(at, 1, mibwalk);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, expected);
    }
}

TEST_F(WalkTest, EveryValueKindPrints) {
    const std::string base = "1.3.6.1.4.1.32473.9";
    std::string longName = base;
    while (longName.size() <= 260)
        longName += ".123456";
    const std::vector<std::pair<Bytes, std::string>> values = {
        {ber::integer(42), "Kind: Integer Value: 42"},
        {ber::integer(-5), "Kind: Integer Value: -5"},
        {ber::integer(-2147483648LL), "Kind: Integer Value: -2147483648"},
        {ber::tlv(0x02, {0x01, 0x00, 0x00, 0x00, 0x00}), "Kind: Integer Value: OVERFLOW"},
        {ber::octets(std::string("a\"b\\c\n\x01\xff", 8)),
         "Kind: OctetString Value: \"a\"b\\c\\12\\1\\377\""},
        {ber::octets(""), "Kind: OctetString Value: \"\""},
        {ber::octets(std::string(300, 'x')), "Kind: OctetString Value: GARBLED"},
        {ber::ipAddress({192, 168, 0, 255}), "Kind: IpAddress Value: 192.168.0.255"},
        {ber::counter(4000000000LL), "Kind: Counter Value: 4000000000"},
        {ber::tlv(0x41, {0x80, 0x00, 0x00, 0x01}), "Kind: Counter Value: NEGATIVE"},
        {ber::tlv(0x41, {0x01, 0x00, 0x00, 0x00, 0x00}), "Kind: Counter Value: OVERFLOW"},
        {ber::gauge(7), "Kind: Gauge Value: 7"},
        {ber::ticks(0), "Kind: TimeTicks Value: 0"},
        {ber::oid("1.3.6.1.2.1.1"), "Kind: ObjectId Value: 1.3.6.1.2.1.1"},
        {ber::null(), "Kind: Null Value: GARBLED"},
        {ber::tlv(0x44, {0x9f, 0x78, 0x04, 0x3e}), "Kind: Opaque Value: GARBLED"},
    };
    Mib mib;
    std::vector<std::string> expected;
    for (size_t i = 0; i < values.size(); ++i) {
        std::string name = base + "." + std::to_string(i + 1);
        mib[name] = values[i].first;
        expected.push_back("Name: " + name + " " + values[i].second + " \n");
    }
    // A name whose text needs more than 256 characters prints without "Name: ".
    mib[longName] = ber::integer(1);
    expected.push_back("Kind: Integer Value: 1 \n");
    ScriptedAgent agent(
        [&mib](const ber::Message &r) { return std::vector<Bytes>{answerFrom(mib, r)}; });
    auto r = w.run(agent, {"-t", "5", base});
    std::string all;
    for (const auto &e : expected)
        all += e;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, all + "End of MIB\n");
}

TEST_F(WalkTest, MalformedDatagramsAreRefusedAndTheWalkGoesOn) {
    ScriptedAgent agent([](const ber::Message &r) {
        Bytes good = answerFrom(systemMib, r);
        Bytes wrongVersion = good;
        wrongVersion[4] = 0x01; // 30 L 02 01 [00] ...
        Bytes trap = ber::tlv(
            0x30, ber::cat({ber::integer(0), ber::octets("public"),
                            ber::tlv(0xA4, ber::cat({ber::oid("1.3.6.1.4.1.32473"),
                                                     ber::ipAddress({127, 0, 0, 1}),
                                                     ber::integer(0), ber::integer(0),
                                                     ber::ticks(5), ber::tlv(0x30, {})}))}));
        Bytes getRequest = ber::message("public", 0xA0, r.requestId, 0, 0,
                                        {ber::varBind("1.3.6.1.2.1.1.1.0", ber::null())});
        Bytes trailing = good;
        trailing.push_back(0x00); // extra octets after a whole message are ignored
        Bytes oversized = ber::response(
            r.requestId, {ber::varBind("1.3.6.1.2.1.1.1.0", ber::octets(std::string(2100, 'z')))});
        std::vector<Bytes> out = {
            {},                                                                     // empty
            {0xFF, 0xFF, 0xFF},                                                     // garbage
            Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), // cut short
            wrongVersion,
            trap,
            getRequest,
            oversized, // longer than 2048 octets: cut, then refused
            ber::tlv(0x30, ber::cat({ber::integer(0), ber::octets("public"),
                                     ber::tlv(0xA7, ber::integer(1))})), // unknown PDU
        };
        out.push_back(r.requestId % 2 ? trailing : good);
        return out;
    });
    auto r = w.run(agent, {"-t", "5", "1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, systemLines);
    EXPECT_EQ(agent.ids(), (std::vector<int64_t>{0, 1, 2, 3}));
}

TEST_F(WalkTest, NamesFromTheDefinitionsFile) {
    w.definitions("# test definitions\n"
                  "system = 1.3.6.1.2.1.1\n"
                  "sysDescr = 1.3.6.1.2.1.1.1\n"
                  "sysObjectID = 1.3.6.1.2.1.1.2\n");
    ScriptedAgent agent(
        [](const ber::Message &r) { return std::vector<Bytes>{answerFrom(systemMib, r)}; });
    auto r = w.run(agent, {"system"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, line("sysDescr.0", "OctetString", "\"box\"") +
                         line("sysObjectID.0", "ObjectId", "1.3.6.1.4.1.32473") +
                         line("system.3.0", "TimeTicks", "1234"));
    ASSERT_FALSE(agent.seen().empty());
    EXPECT_EQ(agent.seen()[0].binds[0].name, "1.3.6.1.2.1.1");

    r = w.run(agent, {"system", "foo"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, mibwalk + ": Error parsing argument foo\n");
}

TEST(OidHasPrefix, IsTheSubtreeTest) {
    struct Case {
        std::string candidate, request;
        int requestLen; // -1: the request's own length
        bool expected;
    };
    const std::vector<Case> cases = {
        {"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1", -1, true},
        {"1.3.6.1.2.1.1", "1.3.6.1.2.1.1", -1, true},
        {"1.3.6.1.2.1.10.1", "1.3.6.1.2.1.1", -1, false},  // 0A against 01 at the last arc
        {"1.3.6.1.2.1", "1.3.6.1.2.1.1", -1, false},       // shorter than the request
        {"1.3.6.1.4.1.200.1", "1.3.6.1.4.1.2", -1, false}, // 81 48 against 02
        {"1.3.6.1.4.1.200.1", "1.3.6.1.4.1.200", -1, true},
        {"2.5", "1.3.6.1", 0, true}, // no request name: everything lies under it
        {"2.5", "1.3.6.1", -3, true},
    };
    for (const auto &c : cases) {
        Bytes cand = ber::oidContent(c.candidate), req = ber::oidContent(c.request);
        int n = c.requestLen == -1 ? static_cast<int>(req.size()) : c.requestLen;
        EXPECT_EQ(oidHasPrefix(cand.data(), static_cast<int>(cand.size()), req.data(), n),
                  c.expected)
            << c.candidate << " under " << c.request;
    }
}

// The hex dumps of -d -d go to the event log, never to standard output.
TEST_F(WalkTest, DoubleDebugDumpsToTheEventLog) {
    ScriptedAgent agent(
        [](const ber::Message &r) { return std::vector<Bytes>{answerFrom(systemMib, r)}; });
    ScopedCwd cwd(w.dir.path);
    ScopedEnv reg("TARNOQSNMP_REGISTRY", w.env["TARNOQSNMP_REGISTRY"].c_str());
    std::string port = std::to_string(agent.peer.port);
    std::vector<std::string> args{"mibwalk",   "-d", "-d", "-h",
                                  "127.0.0.1", "-p", port, "1.3.6.1.2.1.1"};
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int saved = logLevel;
    int status = -1;
    std::string out;
    {
        EventCapture capture;
        ::testing::internal::CaptureStdout();
        status = toolRun(static_cast<int>(args.size()), argv.data());
        fflush(stdout);
        out = ::testing::internal::GetCapturedStdout();
        logLevel = saved;
        std::string log = capture.joined();
        // The first answer's octets as received, then its length.
        auto reqs = agent.seen();
        ASSERT_EQ(reqs.size(), 4u);
        Bytes first = answerFrom(systemMib, reqs[0]);
        std::string hex;
        char buf[4];
        for (unsigned char b : first) {
            snprintf(buf, sizeof buf, "%02X ", b);
            hex += buf;
        }
        EXPECT_NE(log.find(hex + "\n"), std::string::npos);
        EXPECT_NE(log.find("result: " + std::to_string(first.size()) + "\n"), std::string::npos);
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, systemLines);
}

} // namespace
