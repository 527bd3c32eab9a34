"""Save the axis configuration of a motion controller to an INI file and load it back.

    python save_and_load_config.py [TARGET] [--product NAME] [--emulate]

The file is written to a temporary directory and removed at the end.
"""

import tempfile
from pathlib import Path

from pyzelvo.examples import Example

AXIS = 0
ENABLED, ACTIVE_HIGH = 1, 1
SETTING = "Home Enable"

example = Example("Motion", "save_and_load_config", __doc__)
dev = example.open()
port = example.port

dev.Motion_open(port)
dev.Motion_cfgHome(port, AXIS, ENABLED, ACTIVE_HIGH)  # something worth saving: the home input on
with tempfile.TemporaryDirectory() as folder:
    ini = Path(folder) / "axes.ini"
    ini.write_text("")  # the file must exist before it is named
    print("name the file:", dev.Motion_openCfgFile(str(ini)))
    print("save:", dev.Motion_saveCfgFile())
    print("sections:", [line for line in ini.read_text().splitlines() if line.startswith("[")])
    saved = dev.axis_1.motion_dict[SETTING]
    dev.axis_1.motion_dict[SETTING] = 0  # changed here, then restored from the file
    print("load:", dev.Motion_loadCfgFile(port=port))
    print(f"axis 1 {SETTING}: {dev.axis_1.motion_dict[SETTING]} (saved {saved})")
dev.Motion_close(port)

dev.close()
