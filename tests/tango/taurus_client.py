#!/usr/bin/python3
"""Taurus as a lab uses it, for the Tango tests: a process of its own, as Taurus keeps its own threads and
logging.

  taurus_client.py attributes BASE NAME...   prints, as JSON, what Taurus makes of each attribute BASE+NAME
  taurus_client.py form BASE STOPFILE        a Taurus form of every attribute of the device; once STOPFILE
                                             exists, prints "MODEL | TEXT" for each value shown and quits
"""
import json
import os
import sys

ATTRIBUTES = ["State", "Status", "Wavelength", "ControllerName", "Port", "Grating", "Grooves", "Blazes",
              "ScanPoint", "ScanPoints", "ScanPass", "ScanPaused", "Enabled"]


def attributes(base, names):
    import taurus

    out = {}
    for name in names:
        a = taurus.Attribute(base + name)
        value = a.read(cache=False)
        low, high = a.range
        out[name] = {
            "full_name": a.getFullName(),
            "description": a.description,
            "units": str(value.rvalue.units) if hasattr(value.rvalue, "units") else None,
            "magnitude": (value.rvalue.magnitude.tolist() if hasattr(value.rvalue.magnitude, "tolist")
                          else value.rvalue.magnitude) if hasattr(value.rvalue, "magnitude") else None,
            "quality": str(value.quality),
            "format": a.format_spec,
            "range": [None if low is None else float(low.magnitude), None if high is None else float(high.magnitude)],
            "range_units": str(low.units) if hasattr(low, "units") else None,
        }
    print(json.dumps(out), flush=True)


def form(base, stop_file):
    from taurus.external.qt import Qt
    from taurus.qt.qtgui.application import TaurusApplication
    from taurus.qt.qtgui.panel import TaurusForm

    app = TaurusApplication(cmd_line_parser=None, app_name="orvane-tango-test")
    panel = TaurusForm()
    panel.setModel([base + name for name in ATTRIBUTES])
    panel.show()
    print("shown", flush=True)

    def poll():
        if not os.path.exists(stop_file):
            return
        for item in panel:
            widget = item.readWidget()
            print(item.getModel(), "|", widget.text() if hasattr(widget, "text") else "", flush=True)
        app.quit()

    timer = Qt.QTimer()
    timer.timeout.connect(poll)
    timer.start(200)
    sys.exit(app.exec_())


if __name__ == "__main__":
    if sys.argv[1] == "attributes":
        attributes(sys.argv[2], sys.argv[3:])
    elif sys.argv[1] == "form":
        form(sys.argv[2], sys.argv[3])
    else:
        sys.exit("usage: taurus_client.py attributes BASE NAME... | form BASE STOPFILE")
