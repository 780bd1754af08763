-- Requests of the search settings page for wrk: BENCH_METHOD is GET or POST,
-- BENCH_AUTH the Authorization header. A POST sets QZ-max-records to the one
-- of 800 and 500 the served file BENCH_CONF does not hold (the forms
-- BENCH_TO_800 and BENCH_TO_500), so that every save changes the file. Prints
-- "bad N": the answers that were not the form (GET) or a saved page (POST).
wrk.method = os.getenv("BENCH_METHOD")
wrk.headers["Authorization"] = os.getenv("BENCH_AUTH")
local mark = wrk.method == "POST" and "Congratulations" or "new_QZ_max_records"
if wrk.method == "POST" then
   wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
   wrk.headers["Origin"] = os.getenv("BENCH_ORIGIN")
   function request()
      local f = assert(io.open(os.getenv("BENCH_CONF")))
      local holds800 = f:read("*a"):find("\nQZ%-max%-records ?= ?800\n")
      f:close()
      return wrk.format(nil, nil, nil, os.getenv(holds800 and "BENCH_TO_500" or "BENCH_TO_800"))
   end
end
local threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args) bad = 0 end
function response(status, headers, body)
   if status ~= 200 or not body:find(mark, 1, true) then bad = bad + 1 end
end
function done(summary, latency, requests)
   local n = 0
   for _, t in ipairs(threads) do n = n + t:get("bad") end
   io.write(string.format("bad %d\n", n))
end
