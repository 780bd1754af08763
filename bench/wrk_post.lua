-- POST of the search settings form for wrk, the way a browser on the same
-- host sends it. The body, the Origin and the Authorization header come from
-- the environment (BENCH_BODY, BENCH_ORIGIN, BENCH_AUTH), set by bench.py.
-- Counts the answers that report a save and those refused because another
-- save held the lock, and prints both at the end on a line of their own.

wrk.method = "POST"
wrk.body = os.getenv("BENCH_BODY")
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
wrk.headers["Origin"] = os.getenv("BENCH_ORIGIN")
wrk.headers["Authorization"] = os.getenv("BENCH_AUTH")

local threads = {}

function setup(thread)
   table.insert(threads, thread)
end

function init(args)
   saved = 0
   locked = 0
   other = 0
end

function response(status, headers, body)
   if status == 200 and body:find("Congratulations", 1, true) then
      saved = saved + 1
   elseif status == 200 and body:find("locked", 1, true) then
      locked = locked + 1
   else
      other = other + 1
   end
end

function done(summary, latency, requests)
   local s, l, o = 0, 0, 0
   for _, t in ipairs(threads) do
      s = s + t:get("saved")
      l = l + t:get("locked")
      o = o + t:get("other")
   end
   io.write(string.format("answers saved=%d locked=%d other=%d\n", s, l, o))
end
