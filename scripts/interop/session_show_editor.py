#!/usr/bin/env python3
"""Marks a plug-in's own window as open in a saved Ardour 7 session, so that Ardour's GUI opens
it when it loads the session (Ardour keeps the plug-in windows that were open when a session
was saved in the session's UI state).

usage: session_show_editor.py SESSION.ardour TRACK PLUGIN
"""
import re
import sys


def main():
    session_file, track, plugin = sys.argv[1], sys.argv[2], sys.argv[3]
    xml = open(session_file, encoding="utf-8").read()
    route = re.search(r'<Route [^>]*\bid="(\d+)" name="%s"[^>]*>(.*?)</Route>' % re.escape(track),
                      xml, re.S)
    if not route:
        sys.exit("session_show_editor: no track named %s" % track)
    processor = re.search(r'<Processor id="(\d+)" name="%s"[^>]*type="lxvst"' % re.escape(plugin),
                          route.group(2))
    if not processor:
        sys.exit("session_show_editor: the track %s has no plug-in %s" % (track, plugin))
    window = ('<Window name="P-%s-%s" visible="1" x-off="0" y-off="0" x-size="-1" y-size="-1" '
              'custom-ui="1"/>' % (route.group(1), processor.group(1)))
    if re.search(r'<Extra>\s*<UI>', xml):
        xml = re.sub(r'(<Extra>\s*<UI>)', r'\1' + window, xml, count=1)
    elif '<Extra>' in xml:
        xml = xml.replace('<Extra>', '<Extra><UI>%s</UI>' % window, 1)
    else:
        xml = xml.replace('</Session>', '<Extra><UI>%s</UI></Extra></Session>' % window, 1)
    open(session_file, "w", encoding="utf-8").write(xml)
    print("window P-%s-%s marked open" % (route.group(1), processor.group(1)))


if __name__ == "__main__":
    main()
