-- Creates a session with one MIDI track whose instrument is the VST 2.4 plug-in named in
-- the environment (INTEROP_PLUGIN), on the dummy backend, and saves it.
local dir = os.getenv("INTEROP_SESSION_DIR")
local name = os.getenv("INTEROP_SESSION_NAME")
local plugin = os.getenv("INTEROP_PLUGIN")
local rate = tonumber(os.getenv("INTEROP_RATE"))

assert(AudioEngine:set_backend("None (Dummy)", "", ""), "no dummy backend")
local s = create_session(dir, name, rate)
assert(s, "cannot create the session")
local info = ARDOUR.LuaAPI.new_plugin_info(plugin, ARDOUR.PluginType.LXVST)
assert(not info:isnil(), "Ardour does not know the plug-in " .. plugin .. " (not scanned?)")
local tracks = Session:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
	ARDOUR.ChanCount(ARDOUR.DataType("audio"), 2), true, info, nil, nil, 1, "synth",
	ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false)
assert(tracks:size() == 1, "no MIDI track")
-- The track's outputs are connected to the master bus by a background thread: make sure they
-- are before the session is saved.
local route = tracks:front()
local master = Session:master_out()
ARDOUR.LuaAPI.usleep(100000)
for c = 0, 1 do
	local ours = route:output():audio(c)
	local theirs = master:input():audio(c)
	if not ours:connected_to(theirs:name()) then
		route:output():connect(ours, theirs:name(), nil)
	end
	assert(ours:connected_to(theirs:name()), "cannot connect the track to the master bus")
end
Session:save_state("", false, false, false, false, false)
print("created session with " .. plugin)
close_session()
