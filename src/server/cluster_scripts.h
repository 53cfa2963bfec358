#pragma once

#include "server/redis/redis_script.h"

#include <vector>

namespace tavoro::server {

// The Lua scripts by which a node reads and changes the state its cluster shares in Redis, each run
// atomically (the key layout is described with RedisCluster). Arguments and answers:
// - claim: KEYS device, device key; ARGV node, lease ms, key digest or "". 0 granted, 1 held by another
//   node, 2 owned by another key (a granted first claim with a key makes that key the owner).
// - renew: KEYS devices; ARGV node, lease ms. The positions (from 1) of the keys another node holds.
// - release: KEYS device, its alias record; ARGV node, device ID, "1" to free the device too ("0": its
//   alias only). Only while this node holds the device.
// - bindAlias: KEYS alias, the device's alias record; ARGV device ID, "1" or "0" (SMS mode) followed by
//   the alias, lease ms. 1 bound, 0 held by another device.
// - renewAliases: ARGV node, lease ms, then pairs of device ID and its alias record: the aliases of
//   the devices the node holds live on (and come back after a Redis restart unless taken meanwhile).
// - findCallee: ARGV "to", password, code lifetime ms, most wrong guesses. {device ID, node, 1 when the
//   password redeemed a code} or {} when offline.
// - issueSmsCode: ARGV requester, alias, code, lifetime ms, request interval ms, most codes per alias.
//   0 issued, 1 alias unbound, 2 too soon.
// - forward: KEYS device; ARGV node, payload. Publishes the payload on the channel of the node holding
//   the device when that is another node: 1, else 0.
struct ClusterScripts {
    redis::RedisScript claim;
    redis::RedisScript renew;
    redis::RedisScript release;
    redis::RedisScript bindAlias;
    redis::RedisScript renewAliases;
    redis::RedisScript findCallee;
    redis::RedisScript issueSmsCode;
    redis::RedisScript forward;

    // Every script, for loading them all.
    std::vector<const redis::RedisScript*> all() const
    {
        return {&claim, &renew, &release, &bindAlias, &renewAliases, &findCallee, &issueSmsCode, &forward};
    }
};

const ClusterScripts& clusterScripts();

} // namespace tavoro::server
