#include "server/cluster_scripts.h"

namespace tavoro::server {
namespace {

using redis::RedisScript;

constexpr const char* kClaim = R"(local owner = redis.call('GET', KEYS[2])
if owner and owner ~= ARGV[3] then
  return 2
end
local holder = redis.call('GET', KEYS[1])
if holder and holder ~= ARGV[1] then
  return 1
end
redis.call('SET', KEYS[1], ARGV[1], 'PX', ARGV[2])
if not owner and ARGV[3] ~= '' then
  redis.call('SET', KEYS[2], ARGV[3])
end
return 0)";

constexpr const char* kRenew = R"(local taken = {}
for i, key in ipairs(KEYS) do
  local holder = redis.call('GET', key)
  if holder == false or holder == ARGV[1] then
    redis.call('SET', key, ARGV[1], 'PX', ARGV[2])
  else
    taken[#taken + 1] = i
  end
end
return taken)";

constexpr const char* kRelease = R"(if redis.call('GET', KEYS[1]) ~= ARGV[1] then
  return 0
end
local record = redis.call('GET', KEYS[2])
if record then
  local alias = 'tavoro:alias:' .. string.sub(record, 2)
  if redis.call('GET', alias) == ARGV[2] then
    redis.call('DEL', alias)
  end
  redis.call('DEL', KEYS[2])
end
if ARGV[3] == '1' then
  redis.call('DEL', KEYS[1])
end
return 1)";

constexpr const char* kBindAlias = R"(local holder = redis.call('GET', KEYS[1])
if holder and holder ~= ARGV[1] then
  return 0
end
local previous = redis.call('GET', KEYS[2])
if previous then
  local alias = 'tavoro:alias:' .. string.sub(previous, 2)
  if alias ~= KEYS[1] and redis.call('GET', alias) == ARGV[1] then
    redis.call('DEL', alias)
  end
end
redis.call('SET', KEYS[1], ARGV[1], 'PX', ARGV[3])
redis.call('SET', KEYS[2], ARGV[2], 'PX', ARGV[3])
return 1)";

constexpr const char* kRenewAliases = R"(for i = 3, #ARGV, 2 do
  local device = ARGV[i]
  if redis.call('GET', 'tavoro:device:' .. device) == ARGV[1] then
    redis.call('SET', 'tavoro:alias_of:' .. device, ARGV[i + 1], 'PX', ARGV[2])
    local alias = 'tavoro:alias:' .. string.sub(ARGV[i + 1], 2)
    local holder = redis.call('GET', alias)
    if holder == false or holder == device then
      redis.call('SET', alias, device, 'PX', ARGV[2])
    end
  end
end
return 0)";

// Codes of an alias: sorted set "tavoro:sms:<alias>" of the digits scored by their issue time (Redis's
// clock, in ms); wrong guesses: "tavoro:sms_wrong:<alias>".
constexpr const char* kSmsHelpers = R"(local function now()
  local t = redis.call('TIME')
  return tonumber(t[1]) * 1000 + math.floor(tonumber(t[2]) / 1000)
end
local function liveCodes(alias, lifetime)
  local codes = 'tavoro:sms:' .. alias
  redis.call('ZREMRANGEBYSCORE', codes, '-inf', now() - lifetime)
  if redis.call('ZCARD', codes) == 0 then
    redis.call('DEL', 'tavoro:sms_wrong:' .. alias)
  end
  return codes
end
)";

constexpr const char* kFindCallee = R"(local function redeem(alias, password, lifetime, maxWrong)
  local codes = liveCodes(alias, lifetime)
  if redis.call('ZCARD', codes) == 0 then
    return 0
  end
  local wrong = 'tavoro:sms_wrong:' .. alias
  if redis.call('ZSCORE', codes, password) then
    redis.call('ZREM', codes, password)
    redis.call('DEL', wrong)
    return 1
  end
  if redis.call('INCR', wrong) >= maxWrong then
    redis.call('DEL', codes, wrong)
  else
    redis.call('PEXPIRE', wrong, lifetime)
  end
  return 0
end
local device = ARGV[1]
local node = redis.call('GET', 'tavoro:device:' .. device)
if not node then
  device = redis.call('GET', 'tavoro:alias:' .. ARGV[1])
  if not device then
    return {}
  end
  node = redis.call('GET', 'tavoro:device:' .. device)
  if not node then
    return {}
  end
end
local verified = 0
local bound = redis.call('GET', 'tavoro:alias_of:' .. device)
if bound and string.sub(bound, 1, 1) == '1' then
  verified = redeem(string.sub(bound, 2), ARGV[2], tonumber(ARGV[3]), tonumber(ARGV[4]))
end
return {device, node, verified})";

constexpr const char* kIssueSmsCode = R"(if not redis.call('GET', 'tavoro:alias:' .. ARGV[2]) then
  return 1
end
if not redis.call('SET', 'tavoro:sms_request:' .. ARGV[1], '1', 'NX', 'PX', ARGV[5]) then
  return 2
end
local lifetime = tonumber(ARGV[4])
local codes = liveCodes(ARGV[2], lifetime)
if redis.call('ZCARD', codes) >= tonumber(ARGV[6]) then
  redis.call('ZPOPMIN', codes)
end
redis.call('ZADD', codes, now(), ARGV[3])
redis.call('PEXPIRE', codes, lifetime)
return 0)";

constexpr const char* kForward = R"(local holder = redis.call('GET', KEYS[1])
if holder and holder ~= ARGV[1] then
  redis.call('PUBLISH', 'tavoro:node:' .. holder, ARGV[2])
  return 1
end
return 0)";

} // namespace

const ClusterScripts& clusterScripts()
{
    static const ClusterScripts scripts{
        RedisScript::of(kClaim),
        RedisScript::of(kRenew),
        RedisScript::of(kRelease),
        RedisScript::of(kBindAlias),
        RedisScript::of(kRenewAliases),
        RedisScript::of(std::string(kSmsHelpers) + kFindCallee),
        RedisScript::of(std::string(kSmsHelpers) + kIssueSmsCode),
        RedisScript::of(kForward),
    };
    return scripts;
}

} // namespace tavoro::server
