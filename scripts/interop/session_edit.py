#!/usr/bin/env python3
"""Writes a MIDI region into a saved Ardour 7 session (its Lua API cannot create one) and,
optionally, the instrument's state as the plug-in's bank chunk.

usage: session_edit.py SESSION.ardour NOTES.mid QUARTERS FRAMES [BANK.fxb]

QUARTERS is the region's length, FRAMES the length of the session range (the export).
"""
import base64
import os
import re
import shutil
import sys

TICKS_PER_QUARTER = 1920  # Ardour's beat time resolution


def main():
    session_file, midi_file, quarters = sys.argv[1], sys.argv[2], float(sys.argv[3])
    frames = int(sys.argv[4])
    bank = sys.argv[5] if len(sys.argv) > 5 else None
    xml = open(session_file, encoding="utf-8").read()
    # The session's media live in its one folder under interchange/.
    interchange = os.path.join(os.path.dirname(session_file), "interchange")
    folders = os.listdir(interchange)
    if len(folders) != 1:
        sys.exit("session_edit: expected one folder in %s, found %s" % (interchange, folders))
    folder = os.path.join(interchange, folders[0], "midifiles")
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(midi_file, os.path.join(folder, "notes.mid"))

    counter = int(re.search(r'id-counter="(\d+)"', xml).group(1))
    source_id, whole_id, region_id, range_id = counter + 1, counter + 2, counter + 3, counter + 4
    xml = re.sub(r'id-counter="\d+"', 'id-counter="%d"' % (counter + 10), xml, count=1)
    length = int(round(quarters * TICKS_PER_QUARTER))

    def region(rid, whole):
        return ('<Region name="notes" muted="0" opaque="1" locked="0" video-locked="0" '
                'automatic="0" whole-file="%d" import="0" external="0" sync-marked="0" '
                'left-of-split="0" right-of-split="0" hidden="0" position-locked="0" '
                'valid-transients="0" start="b0" length="b%d@b0" sync-position="b0" '
                'ancestral-start="b0" ancestral-length="b%d@b0" stretch="1" shift="1" '
                'layering-index="0" tags="" contents="1" id="%d" type="midi" '
                'first-edit="nothing" source-0="%d" master-source-0="%d"/>'
                % (whole, length, length, rid, source_id, source_id))

    source = ('<Source name="notes.mid" type="midi" flags="" id="%d" captured-for="synth" '
              'origin=""/>' % source_id)
    xml = xml.replace("<Sources/>", "<Sources>\n    %s\n  </Sources>" % source, 1)
    xml = xml.replace("<Regions/>", "<Regions>\n    %s\n  </Regions>" % region(whole_id, 1), 1)
    playlist = re.search(r'<Playlist [^>]*name="synth" type="midi"[^>]*?/>', xml)
    if not playlist:
        sys.exit("session_edit: the track's playlist is not in the session")
    opened = playlist.group(0)[:-2] + ">"
    xml = xml.replace(playlist.group(0),
                      opened + "\n      " + region(region_id, 0) + "\n    </Playlist>", 1)

    rate = int(re.search(r'<Session [^>]*sample-rate="(\d+)"', xml).group(1))
    per_second = int(re.search(r'superclocks-per-second="(\d+)"', xml).group(1))
    end = frames * per_second // rate
    location = ('<Location id="%d" name="session" start="a0" end="a%d" flags="IsSessionRange" '
                'locked="0" timestamp="0" cue="0"/>' % (range_id, end))
    if "<Locations/>" not in xml:
        sys.exit("session_edit: the session already has locations")
    xml = xml.replace("<Locations/>", "<Locations>\n    %s\n  </Locations>" % location, 1)

    if bank:
        data = open(bank, "rb").read()
        chunk = base64.b64encode(data[160:]).decode("ascii")  # the fxb header is 160 bytes
        xml, n = re.subn(r'(<chunk program="\d+">)[^<]*(</chunk>)',
                         lambda m: m.group(1) + chunk + m.group(2), xml, count=1)
        if n != 1:
            sys.exit("session_edit: the plug-in's chunk is not in the session")
    open(session_file, "w", encoding="utf-8").write(xml)


if __name__ == "__main__":
    main()
