-- Loads the edited session, checks that the instrument plug-in is really there and that the
-- track plays the MIDI region and that the session range is set for the export.
local dir = os.getenv("INTEROP_SESSION_DIR")
local name = os.getenv("INTEROP_SESSION_NAME")
local plugin = os.getenv("INTEROP_PLUGIN")

assert(AudioEngine:set_backend("None (Dummy)", "", ""), "no dummy backend")
local s = load_session(dir, name)
assert(s, "cannot load the session")
local found = false
local notes = 0
for route in Session:get_routes():iter() do
	local track = route:to_track()
	if not track:isnil() and route:name() == "synth" then
		local i = 0
		while true do
			local proc = route:nth_plugin(i)
			if proc:isnil() then break end
			local insert = proc:to_insert()
			if not insert:isnil() and insert:plugin(0):name() == plugin and proc:active() then
				found = true
			end
			i = i + 1
		end
		for region in track:playlist():region_list():iter() do
			local midi = region:to_midiregion()
			if not midi:isnil() then
				notes = notes + ARDOUR.LuaAPI.note_list(midi:model()):size()
			end
		end
	end
end
assert(found, "the plug-in " .. plugin .. " did not load in the session")
local master = Session:master_out()
for route in Session:get_routes():iter() do
	if route:name() == "synth" then
		for c = 0, 1 do
			assert(route:output():audio(c):connected_to(master:input():audio(c):name()),
				"the track does not feed the master bus")
		end
	end
end
assert(notes > 0, "the MIDI region did not load")
print("plug-in loaded, region has " .. notes .. " notes")
local range = Session:locations():session_range_location()
assert(range ~= nil, "the session has no range to export")
print("session range ends at sample " .. range:_end():samples())
Session:save_state("", false, false, false, false, false)
close_session()
