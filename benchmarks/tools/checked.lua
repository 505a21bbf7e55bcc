-- wrk script: load on the service's HTTP port with every reply checked. Each thread sends its share
-- of requests, compares each reply byte for byte with the first reply the same request got on that
-- thread, then stops ("stop") or keeps its connections open and idle until wrk ends ("hold");
-- done() adds the threads' counts up and checks that all threads saw the same replies.
--
--   wrk -tC -cC -d24h -s checked.lua URL -- SHARE stop|hold UNIT...     (or benchmarks/tools/soak.sh)
--
-- SHARE: requests per thread (rounded up to whole units). UNIT: a request name of mapBodies, or
-- names joined by "+", written in one go (pipelined); the units are sent in turn. wrk takes the
-- pipeline depth from its first request() and then waits for that many replies after every write,
-- so all units of a run must hold the same number of requests.
-- A reply does not say which connection it came on, so with several units the check needs one
-- connection per thread (-t equal to -c); a run of a single unit may share threads.

local mapBodies = {
   InfoData = '{"Msg":"InfoData"}',
   GetRoomArea = '{"Msg":"GetRoomArea"}',
   NoSuchCommand = '{"Msg":"NoSuchCommand"}',
   NotJson = 'not json at all',
}
local kIdleMs = 24 * 3600 * 1000   -- "delay" of a connection whose thread has sent its share

-- ---- the threads' side ----

local lstUnits = {}
local nDepth = 0
local nUnitsToSend = 0
local bHold = false
local nUnitsStarted = 0
local nLastDotSecond = 0
-- Read by done() through thread:get(), so these two are globals.
tally = {nRequests = 0, nReplies = 0, nMismatched = 0}
mapReference = {}

local function postRequest(strName)
   local strBody = mapBodies[strName]
   if not strBody then
      error("unknown request name " .. strName)
   end
   return wrk.format("POST", "/", {["Content-Type"] = "text/plain"}, strBody)
end

local function parseUnit(strUnit)
   local lstNames = {}
   local lstBytes = {}
   for strName in string.gmatch(strUnit, "[^+]+") do
      table.insert(lstNames, strName)
      table.insert(lstBytes, postRequest(strName))
   end
   return {lstNames = lstNames, strBytes = table.concat(lstBytes)}
end

function init(args)
   local nShare = tonumber(args[1])
   bHold = args[2] == "hold"
   for i = 3, #args do
      table.insert(lstUnits, parseUnit(args[i]))
   end
   if not nShare or (args[2] ~= "stop" and not bHold) or #lstUnits == 0 then
      error("arguments: SHARE stop|hold UNIT...")
   end
   nDepth = #lstUnits[1].lstNames
   for _, unit in ipairs(lstUnits) do
      if #unit.lstNames ~= nDepth then
         error("every unit must hold " .. nDepth .. " requests")
      end
   end
   nUnitsToSend = math.ceil(nShare / nDepth)
end

-- Called once before each unit a connection writes (never for wrk's trial request() at start-up),
-- so it is where the share is counted and enforced.
function delay()
   if nUnitsStarted >= nUnitsToSend then
      return kIdleMs
   end
   nUnitsStarted = nUnitsStarted + 1
   tally.nRequests = nUnitsStarted * nDepth
   return 0
end

function request()
   local nIndex = math.max(nUnitsStarted - 1, 0) % #lstUnits
   return lstUnits[nIndex + 1].strBytes
end

-- The name of the request that reply number nReply (from 0) answers.
local function nameOfReply(nReply)
   local nUnit = math.floor(nReply / nDepth)
   local unit = lstUnits[nUnit % #lstUnits + 1]
   return unit.lstNames[nReply % nDepth + 1]
end

local function check(nStatus, strName, strBody)
   if nStatus ~= 200 then
      return false
   end
   if mapReference[strName] == nil then
      mapReference[strName] = strBody
   end
   return mapReference[strName] == strBody
end

function response(nStatus, mapHeaders, strBody)
   if not check(nStatus, nameOfReply(tally.nReplies), strBody) then
      tally.nMismatched = tally.nMismatched + 1
   end
   tally.nReplies = tally.nReplies + 1
   -- At most one progress dot a second per thread: soak.sh takes ten quiet seconds for a stall.
   if not bHold and os.time() ~= nLastDotSecond then
      nLastDotSecond = os.time()
      io.stderr:write(".")
   end
   if tally.nReplies < nUnitsToSend * nDepth then
      return
   end
   if bHold then
      io.stderr:write("holding " .. tally.nReplies .. " connections\n")
      return
   end
   io.stderr:write("finished\n")
   wrk.thread:stop()
end

-- ---- wrk's main state: setup() and done() ----

local lstThreads = {}

function setup(thread)
   table.insert(lstThreads, thread)
end

-- Counts the threads whose learnt reply to a request differs from the first thread's.
local function countDisagreements(mapFirst, mapOther)
   local nDiffer = 0
   for strName, strBody in pairs(mapOther) do
      if mapFirst[strName] == nil then
         mapFirst[strName] = strBody
      elseif mapFirst[strName] ~= strBody then
         nDiffer = nDiffer + 1
      end
   end
   return nDiffer
end

function done(summary, latency, requests)
   local total = {nRequests = 0, nReplies = 0, nMismatched = 0}
   local mapFirst = {}
   for _, thread in ipairs(lstThreads) do
      local tallyThread = thread:get("tally")
      for strKey, nValue in pairs(tallyThread) do
         total[strKey] = total[strKey] + nValue
      end
      total.nMismatched = total.nMismatched + countDisagreements(mapFirst, thread:get("mapReference"))
   end
   for strName, strBody in pairs(mapFirst) do
      io.write(string.format("  %-16s -> %s\n", strName, string.sub(strBody, 1, 60)))
   end
   local dSeconds = summary.duration / 1e6
   local errors = summary.errors
   io.write(string.format("requests %d answered %d mismatched %d seconds %.1f rate %.0f/s\n",
                          total.nRequests, total.nReplies, total.nMismatched, dSeconds, total.nReplies / dSeconds))
   local nErrors = errors.connect + errors.read + errors.write + errors.status
   local bOk = total.nReplies == total.nRequests and total.nMismatched == 0 and nErrors == 0
   if not bOk then
      io.write(string.format("FAILED (socket errors: connect %d read %d write %d; status >= 400: %d)\n",
                             errors.connect, errors.read, errors.write, errors.status))
      os.exit(1)
   end
end
