// The client of the SNMPv3 agent benchmark, built on the library's manager
// session:
//
//   v3replay PORT ROUNDS < NAMES
//
// discovers the agent's engine on 127.0.0.1:PORT as the user "bench"
// (SHA-256, AES-128, authPriv, passphrases "benchauth1" and "benchpriv1"),
// builds one GetBulkRequest (max-repetitions BULK, 25 when unset) from each
// name read from standard input, signed and encrypted once, then sends them
// ROUNDS times over, each when the answer to the last came, and prints
// "answered N lost M bindings B". The requests keep the time they were built
// with: the rounds must end within the agent's 150-second window.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "smp/smp.h"
#include "smp/v3.h"
#include "smx/smx.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Client {
    int fd;
    sockaddr_in agent;
    Bytes *capture = nullptr; // building: the message goes here instead of out
    long answered = 0, lost = 0, bindings = 0;
    bool gotAnswer = false;
};
Client client;

int sendOut(void *, const uint8_t *octets, int length) {
    if (client.capture) {
        client.capture->assign(octets, octets + length);
        return 0;
    }
    return sendto(client.fd, octets, static_cast<size_t>(length), 0,
                  reinterpret_cast<sockaddr *>(&client.agent), sizeof client.agent) < 0;
}

int upcall(SmpObject *, SmpPdu *record) {
    client.gotAnswer = true;
    if (record->type == SMP_GET_RESPONSE)
        client.bindings += record->count;
    return 0;
}

// Receives until the object takes an answer or a second passes; true when it did.
bool receive(SmpObject *object) {
    client.gotAnswer = false;
    uint8_t in[4096];
    ssize_t n;
    while (!client.gotAnswer && (n = recv(client.fd, in, sizeof in, 0)) >= 0) {
        object->smpRecStatus = 0;
        smpInput(object, 0x7F000001, in, static_cast<int16_t>(n));
    }
    return client.gotAnswer;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: v3replay PORT ROUNDS < NAMES\n");
        return 2;
    }
    client.fd = socket(AF_INET, SOCK_DGRAM, 0);
    timeval second{1, 0};
    setsockopt(client.fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    client.agent.sin_family = AF_INET;
    client.agent.sin_port = htons(static_cast<uint16_t>(atoi(argv[1])));
    client.agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    asnInit();
    SmpObject *object = smpNew(nullptr, sendOut, upcall);
    static SmpSession session;
    if (!object || smpSessionInit(&session, "bench", USM_AUTH_PRIV, USM_AUTH_SHA256, "benchauth1",
                                  USM_PRIV_AES, "benchpriv1", "", nullptr, 0) != 0)
        return 1;
    smpSetSession(object, &session);
    if (smpSessionDiscover(object, 1) != 0 || !receive(object) || !smpSessionReady(&session)) {
        fprintf(stderr, "v3replay: no engine discovered\n");
        return 1;
    }
    int repetitions = getenv("BULK") ? atoi(getenv("BULK")) : 25;
    std::vector<Bytes> messages;
    std::vector<int32_t> ids;
    int32_t requestId = 2;
    for (std::string line; std::getline(std::cin, line);) {
        uint8_t name[256];
        int length = line.empty() ? -1 : smxTextToObjectId(name, sizeof name, line.c_str());
        if (length < 0)
            continue;
        SmpBind bind{length, name, SMP_KIND_NULL, 0, nullptr, 0};
        SmpPdu pdu{};
        pdu.type = SMP_GET_BULK_REQUEST;
        pdu.requestId = requestId++;
        pdu.errorIndex = static_cast<uint16_t>(repetitions);
        pdu.count = 1;
        pdu.binds = &bind;
        messages.emplace_back();
        client.capture = &messages.back();
        if (smpRequest(object, &pdu) != 0)
            return 1;
        ids.push_back(session.msgId);
    }
    client.capture = nullptr;
    long rounds = atol(argv[2]);
    for (long r = 0; r < rounds; ++r)
        for (size_t i = 0; i < messages.size(); ++i) {
            session.msgId = ids[i]; // the answer is matched by the message's id
            sendOut(nullptr, messages[i].data(), static_cast<int>(messages[i].size()));
            if (receive(object))
                ++client.answered;
            else
                ++client.lost;
        }
    printf("answered %ld lost %ld bindings %ld\n", client.answered, client.lost, client.bindings);
    smpSessionFree(&session);
    smpFree(object);
    return 0;
}
