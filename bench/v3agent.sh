#!/usr/bin/env bash
# SNMPv3 agents: each agent's CPU per returned binding when one client
# replays authPriv GetBulkRequests (SHA-256, AES-128, max-repetitions 25)
# over the MIB-II groups and ifXTable that both mibagent and snmpd serve,
# ROUNDS times over, alternating between the agents, each agent's CPU read
# from /proc/PID/stat around its replay; median of RUNS runs. VERBOSE=1
# prints every run's figures.
source "$(dirname "$0")/common.sh"
runs=${RUNS:-9}
rounds=${ROUNDS:-100}
build
build_benchtools
# The replay client links the library as built.
g++ -std=c++20 -O2 -I. -o build/benchtools/v3replay bench/v3replay.cpp build/libtarnoq_agent.a \
  build/libtarnoq_smp.a build/libtarnoq_asn.a build/libtarnoq_smx.a build/libtarnoq_platform.a \
  build/libtarnoq_number.a -lcrypto -lpthread
export MIBS= MIBDIRS=/nonexistent
subtrees="1.3.6.1.2.1.1 1.3.6.1.2.1.2 1.3.6.1.2.1.4 1.3.6.1.2.1.5 1.3.6.1.2.1.6 1.3.6.1.2.1.7
  1.3.6.1.2.1.11 1.3.6.1.2.1.31.1.1"
start_snmpd v3
MIBAGENT_V3=1 start_mibagent
build/benchtools/getnext learn "$agent_port" public $subtrees >"$work/names"
replay() { build/benchtools/v3replay "$1" "$rounds"; }
compare_agents "authPriv GetBulk (SHA-256, AES-128, max-repetitions 25)" replay
