-- The Ardour half of lv2/hosts/ardour_test.py, run by ardour7-lua:
--   ardour7-lua -- session.lua OUT_DIR PLUGIN_URI PRESET_ID SECONDS LEVELS
-- A session on the dummy backend with two MIDI busses, each a note player (a Lua processor)
-- in front of the instrument:
--   - "Stereo", strict I/O and two outputs, the instrument at its defaults, routed to the
--     master bus;
--   - "Taps", without strict I/O, so that all six of the instrument's outputs go on, its four
--     levels set to LEVELS (comma-separated volts), its outputs not connected to the master.
-- The transport rolls over the notes in real time while Lua processors record the six
-- channels behind the instrument on "Taps" (OUT_DIR/taps.raw) and the master bus's two at its
-- end (OUT_DIR/master.raw), float32, one channel after the other. Then the master is exported
-- to OUT_DIR/master.wav (32-bit float).
-- What it found goes to OUT_DIR/report.txt; its last line is "done" when everything ran.
local out, uri, preset, seconds, levels = arg[1], arg[2], arg[3], tonumber (arg[4]), arg[5]
local report = io.open (out .. "/report.txt", "w")
local function say (...)
	report:write (table.concat ({ ... }, " ") .. "\n")
	report:flush ()
end

AudioEngine:set_backend ("None (Dummy)", "", "")
assert (create_session (out .. "/session", "fourwave", 48000), "no session")
local rate = Session:nominal_sample_rate ()
say ("rate", rate, "block", Session:get_block_size ())

for _, p in ipairs (ARDOUR.LuaAPI.list_plugins ():table ()) do
	if p.unique_id == uri then say ("listed", p.name, "instrument", tostring (p:is_instrument ())) end
end
local plugin = ARDOUR.LuaAPI.new_plugin (Session, uri, ARDOUR.PluginType.LV2, "")
say ("new_plugin", tostring (not plugin:isnil ()))
if plugin:isnil () then return end -- passing a nil plug-in on would crash ardour7-lua

local info = ARDOUR.LuaAPI.new_plugin_info (uri, ARDOUR.PluginType.LV2)
local function bus (name, strict)
	local routes = Session:new_midi_route (nil, 1, name, strict, info, nil, ARDOUR.PresentationInfo.Flag.MidiBus, ARDOUR.PresentationInfo.max_order)
	for route in routes:iter () do
		route:add_processor_by_index (ARDOUR.LuaAPI.new_luaproc (Session, "Fourwave Test Notes"), 0, nil, true)
		return route
	end
end
local stereo = bus ("Stereo", true)
local taps = bus ("Taps", false)
assert (stereo and taps, "no bus")
say ("stereo outputs", stereo:n_outputs ():n_audio (), "taps outputs", taps:n_outputs ():n_audio ())

-- The instrument on "Taps": its four levels, control ports 6 to 9.
local instrument = taps:nth_plugin (1)
say ("instrument", instrument:display_name ())
local k = 6
for level in string.gmatch (levels, "[^,]+") do
	ARDOUR.LuaAPI.set_processor_param (instrument, k, tonumber (level))
	k = k + 1
end
local taps_tap = ARDOUR.LuaAPI.new_luaproc (Session, "Fourwave Test Tap")
taps:add_processor_by_index (taps_tap, 2, nil, true) -- after the note player and the instrument
taps:output ():disconnect_all (nil)
-- A tap at the end of the master bus (index -1), just before its outputs.
local master = Session:master_out ()
local master_tap = ARDOUR.LuaAPI.new_luaproc (Session, "Fourwave Test Tap")
master:add_processor_by_index (master_tap, -1, nil, true)
local chain = {}
local i = 0
while not master:nth_processor (i):isnil () do
	chain[#chain + 1] = master:nth_processor (i):display_name ()
	i = i + 1
end
say ("master", table.concat (chain, ", "))

-- Roll the transport over the notes in real time, with the taps recording.
local length = math.floor (seconds * rate)
Session:request_locate (0, false, ARDOUR.LocateTransportDisposition.MustStop, ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep (500000)
Session:request_roll (ARDOUR.TransportRequestSource.TRS_UI)
local waited = 0
while Session:transport_sample () < length + 4096 and waited < 200 do
	ARDOUR.LuaAPI.usleep (50000)
	waited = waited + 1
end
Session:request_stop (false, false, ARDOUR.TransportRequestSource.TRS_UI)
say ("rolled", Session:transport_sample ())

-- A tap's channels into a file: float32, one channel after the other.
local function save (tap, name)
	local shmem = tap:to_insert ():plugin (0):to_luaproc ():shmem ()
	local header = shmem:to_int (0):array ()
	local channels, frames = header[1], header[2]
	local samples = shmem:to_float (2):array ()
	local file = io.open (out .. "/" .. name, "wb")
	for c = 0, channels - 1 do
		local parts = {}
		for i = 1, length do
			parts[#parts + 1] = string.pack ("<f", samples[c * frames + i])
			if #parts == 8192 then file:write (table.concat (parts)); parts = {} end
		end
		file:write (table.concat (parts))
	end
	file:close ()
	say (name, channels, "channels", length, "frames")
end
save (taps_tap, "taps.raw")
save (master_tap, "master.raw")

-- The export of the master bus, the instruments started afresh first (deactivate and
-- activate), as they were when the session began. Ardour's export sometimes corrupts its heap
-- and crashes later: everything else is written before it.
for _, route in ipairs ({ stereo, taps }) do
	local plugin = route:nth_plugin (1)
	plugin:deactivate ()
	ARDOUR.LuaAPI.usleep (300000) -- Ardour passes it on in its process thread
	plugin:activate ()
end
ARDOUR.LuaAPI.usleep (500000)
local export = Session:simple_export ()
assert (export:set_preset (preset), "no export preset")
export:set_range (0, length)
export:set_folder (out)
export:set_name ("master")
say ("export", tostring (export:run_export ()))
say ("done")
report:close ()
