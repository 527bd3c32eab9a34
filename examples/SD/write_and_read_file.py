"""Write a small log file on the device's SD card and read it back.

    python write_and_read_file.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

FILE_NAME = "log.txt"
CREATE, READ = 0, 1  # modes: create (or empty) the file / open an existing one
LINES = ["time;ai0\n", "0.000;1.25\n", "0.001;1.27\n"]
CHUNK = 254  # at most this many bytes per read

example = Example("SD", "write_and_read_file", __doc__)
dev = example.open()

print("mount:", dev._SD_open())
print(f"card: {dev.SD_getStorage()} MB")
dev.SD_openFile(FILE_NAME, CREATE)
for line in LINES:
    dev.SD_writeFile(line)  # appends
dev.SD_closeFile()

dev.SD_openFile(FILE_NAME, READ)
text = ""
while chunk := dev.SD_readFile(CHUNK):  # a list of one-character texts; empty at the end
    text += "".join(chunk)
dev.SD_closeFile()
print(f"{FILE_NAME} holds {len(text)} characters:")
print(text, end="")
dev._SD_close()

dev.close()
