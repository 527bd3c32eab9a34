"""Motion configuration files: save and load round trips in both families, the file's text, a
hand-written file, the checks of opening, failures of the file system, and re-programming the
chip (on the port asked for) after loading."""

import asyncio
import os

import pytest

import pyzelvo as z

WR2 = 0xE2
HOME_ENABLE, HOME_LEVEL = 1 << 3, 1 << 2


@pytest.fixture
def ini(tmp_path):
    path = tmp_path / "axes.ini"
    path.write_text("")
    return path


def run(dev, name, *args, awaitable=False, **kwargs):
    if awaitable:
        async def go():
            return await getattr(dev, name + "_async")(*args, **kwargs)

        return asyncio.run(go())
    return getattr(dev, name)(*args, **kwargs)


@pytest.mark.parametrize("awaitable", [False, True])
def test_round_trip_keeps_every_setting(attach, ini, awaitable):
    dev, _ = attach("Kinora")
    dev.axis_3.motion_dict["Offset Position"] = -12
    dev.axis_3.motion_dict["Approach Velocity Percent"] = 12.5
    before = [dict(dev._getAxisHandle(a).motion_dict) for a in range(4)]
    assert run(dev, "Motion_openCfgFile", str(ini), awaitable=awaitable) == 0
    assert run(dev, "Motion_saveCfgFile", awaitable=awaitable) == 0
    for a in range(4):  # change everything, then load it back
        dev._getAxisHandle(a).motion_dict["Home Enable"] = 1
        dev._getAxisHandle(a).motion_dict["Approach Velocity Percent"] = 99.0
    assert run(dev, "Motion_loadCfgFile", awaitable=awaitable) == 0
    assert [dict(dev._getAxisHandle(a).motion_dict) for a in range(4)] == before
    assert isinstance(dev.axis_1.motion_dict["Approach Velocity Percent"], float)
    assert dev.inifile == str(ini) and dev.inimode == "w"
    assert dev.iniconfig["Axis_3"]["offset position"] == "-12"


def test_saved_text(attach, ini):
    dev, _ = attach("Kinora")
    dev.Motion_openCfgFile(str(ini))
    dev.Motion_saveCfgFile()
    text = ini.read_text()
    assert text.startswith(
        "[Axis_1]\nstepper output = Step/Dir(One Pulse)\ninverse motion direction = FALSE\n"
        "inverse encoder direction = FALSE\nencoder a polarity = Active High\n")
    assert "approach velocity percent = 20.0\noffset position = 2000\n" in text
    assert [line for line in text.splitlines() if line.startswith("[")] == [f"[Axis_{i}]" for i in range(1, 5)]
    assert text.count(" = ") == 4 * 22
    assert os.listdir(ini.parent) == ["axes.ini"]  # nothing left beside it


def test_hand_written_file_with_quotes_and_odd_case_reprograms_the_chip(attach, ini):
    dev, target = attach("Kinora")
    dev.Motion_openCfgFile(str(ini))
    dev.Motion_saveCfgFile()
    text = ini.read_text().replace("[Axis_2]\n", "[Axis_2]\n; written by hand\nHOME Enable: \"TRUE\"\n", 1)
    lines = text.split("\n")
    second = lines.index("[Axis_2]")
    # Drop axis 2's own "home enable" line further down and change its home polarity.
    for i in range(second + 3, len(lines)):
        if lines[i].startswith("home enable"):
            del lines[i]
            break
    text = "\n".join(lines).replace("home polarity = Active Low", 'Home Polarity = "Active High"', 2)
    ini.write_text(text)
    assert dev.Motion_loadCfgFile() == 0
    assert dev.axis_2.motion_dict["Home Enable"] == 1 and dev.axis_2.motion_dict["Home Polarity"] == 1
    assert target.motion.register(WR2, 1) & (HOME_ENABLE | HOME_LEVEL) == HOME_ENABLE | HOME_LEVEL
    assert target.motion.register(WR2, 2) & HOME_ENABLE == 0


def test_opening_checks_existence_then_extension(attach, tmp_path):
    dev, _ = attach("Kinora")
    with pytest.raises(z.IniFileNotFoundError):
        dev.Motion_openCfgFile(str(tmp_path / "missing.ini"))
    with pytest.raises(z.IniFileNotFoundError):
        dev.Motion_openCfgFile(str(tmp_path / "missing.txt"))
    (tmp_path / "axes.txt").write_text("")
    with pytest.raises(z.IniFileExtensionNameError):
        dev.Motion_openCfgFile(str(tmp_path / "axes.txt"))
    with pytest.raises(z.IniFileNotFoundError):
        dev.Motion_saveCfgFile()  # nothing opened
    assert dev.inifile == ""


def test_loading_reads_the_file_not_what_was_saved_before(attach, ini):
    dev, _ = attach("Kinora")
    dev.Motion_openCfgFile(str(ini))
    dev.Motion_saveCfgFile()
    ini.unlink()
    with pytest.raises(z.IniFileNotFoundError):
        dev.Motion_loadCfgFile()
    ini.write_text("[Axis_1]\nstepper output = CW/CCW(Two Pulse)\n")
    with pytest.raises(z.InputDataNotInRangeError, match="inverse motion direction"):
        dev.Motion_loadCfgFile()
    assert dev.axis_1.motion_dict["Stepper Output"] == 1  # stored before the missing option


def test_a_failing_save_raises(attach, tmp_path):
    dev, _ = attach("Kinora")
    folder = tmp_path / "gone"
    folder.mkdir()
    (folder / "axes.ini").write_text("")
    dev.Motion_openCfgFile(str(folder / "axes.ini"))
    (folder / "axes.ini").unlink()
    folder.rmdir()
    with pytest.raises(OSError):
        dev.Motion_saveCfgFile()


def test_koru_loads_onto_the_slot_asked_for(attach, ini):
    dev, target = attach("Koru")
    dev.axis_1.motion_dict["Home Enable"] = 1
    dev.Motion_openCfgFile(str(ini))
    dev.Motion_saveCfgFile()
    assert dev.Motion_loadCfgFile(3, port=2) == 0  # slot 2: wire port 1
    assert target.motion.register(WR2, 0, port=1) & HOME_ENABLE
    assert not target.motion.register(WR2, 0, port=0) & HOME_ENABLE
    assert asyncio.run(dev.Motion_loadCfgFile_async()) == 0  # default: wire port 0
    assert target.motion.register(WR2, 0, port=0) & HOME_ENABLE
    with pytest.warns(z.MotionPortNotAvaliable), pytest.raises(z.MotionPortNotAvaliable):
        dev.Motion_loadCfgFile(port=3)


def test_conversion_tables(attach):
    dev, _ = attach("Kinora")
    assert dev._Motion_INI_convertIntToString("Stepper Output", 1) == "CW/CCW(Two Pulse)"
    assert dev._Motion_INI_convertIntToString("Approach Velocity Percent", 20.0) == 20.0
    assert dev._Motion_INI_convertStringToInt("Initial Search Direction", "Reverse") == 1
    assert dev._Motion_INI_convertStringToInt("Offset Position", "-5") == -5
    with pytest.raises(KeyError):
        dev._Motion_INI_convertIntToString("Home Enable", 2)
    assert dev.motion_ini.ini_in_dict["Servo On Polarity"] == {"Active Low": 0, "Active High": 1}
    assert "Offset Position" not in dev.motion_ini.ini_out_dict
