"""Kills a run saving every second with SIGKILL at random times, continues it each
time from its .state (or .bak), and checks that it ends byte-identical to an
uninterrupted run, that every .state and .bak left behind carries a valid checksum
and restores, and that no result file is ever half written.

usage: kill_runs.py TARVO [--side N] [--kills K] [--particles P] [--seed S] [--max-wait SECONDS]
"""

import argparse
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
MATERIALS = os.path.normpath(os.path.join(HERE, "..", "..", "..", "data", "materials", "materials.ini"))


def configuration(side, particles):
    return f"""[ApplicationTask]
RandomSeed = 7
BatchSize = 2000
TimeStep = 0
ImageType = RAW
NumberOfParticles = {particles}
SaveInterval = 1
[EndApplicationTask]
[DataSources]
MaterialsFileName = {MATERIALS}
[EndDataSources]
[Objects]
[Object]
ObjectType = Source
Energy = 60
ConeAngle = 0.25
BaseCenter = (0, 0, -20)
[EndObject]
[Object]
ObjectType = Part
MaterialName = Water
VertexA = (-5, -5, 0)
Side1 = (10, 0, 0)
Side2 = (0, 10, 0)
Side3 = (0, 0, 4)
[EndObject]
[Object]
ObjectType = PlaneDetector
BaseCenter = (0, 0, 10)
Side1 = (8, 0, 0)
Side2 = (0, 8, 0)
PixelColumns = {side}
PixelRows = {side}
[EndObject]
[EndObjects]
"""


def images(result_dir):
    return {name.split("_Detector")[1]: open(os.path.join(result_dir, name), "rb").read()
            for name in sorted(os.listdir(result_dir)) if name.endswith(".raw")}


def check_complete(result_dir, side):
    # A RAW image holds side x side floats: anything else was cut short.
    for name in os.listdir(result_dir):
        if name.endswith(".raw"):
            size = os.path.getsize(os.path.join(result_dir, name))
            assert size == side * side * 4, f"half-written result {name}: {size} bytes"


def check_state(path):
    data = open(path, "rb").read()
    tail = data[-38:]
    assert tail[:22] == b"ObjDsc0\x0d\x00StateChecksum", f"{path}: no checksum entry"
    size, version, crc = struct.unpack("<QII", tail[22:])
    assert (size, version) == (8, 1) and crc == zlib.crc32(data[:-38]), f"{path}: bad checksum"


def start(tarvo, args, cwd):
    return subprocess.Popen([tarvo, "--threads", "2", "--interactive", "false"] + args, cwd=cwd,
                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def finish(tarvo, args, cwd):
    process = start(tarvo, args, cwd)
    _, err = process.communicate(b"start\n" if args == ["run.ini"] else b"", timeout=600)
    assert process.returncode == 0, err.decode()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tarvo")
    parser.add_argument("--side", type=int, default=2048)
    parser.add_argument("--kills", type=int, default=20)
    parser.add_argument("--particles", type=int, default=2000000)
    parser.add_argument("--seed", type=int, default=1)
    # Seconds from a start to its kill: the first save needs the loading, a second of
    # running and the writing (seconds for a large detector).
    parser.add_argument("--max-wait", type=float, default=8.0)
    options = parser.parse_args()
    rng = random.Random(options.seed)
    work = tempfile.mkdtemp(prefix="tarvo_kills_")
    try:
        ref = os.path.join(work, "ref")
        os.makedirs(ref)
        with open(os.path.join(ref, "run.ini"), "w") as f:
            f.write(configuration(options.side, options.particles))
        finish(options.tarvo, ["run.ini"], ref)
        expected = images(os.path.join(ref, "run"))

        killed = os.path.join(work, "killed")
        os.makedirs(killed)
        shutil.copy(os.path.join(ref, "run.ini"), killed)
        state = os.path.join(killed, "run", "run.ini.state")
        kills = restores = 0
        last_backup = None
        while kills < options.kills:
            if os.path.exists(state):
                args, feed = ["--restore", "run/run.ini.state"], b""
                restores += 1
            else:
                args, feed = ["run.ini"], b"start\n"
            process = start(options.tarvo, args, killed)
            process.stdin.write(feed)
            process.stdin.flush()
            # Some kills fall before the first save, some while saving, some after.
            time.sleep(rng.uniform(0.3, options.max_wait))
            if process.poll() is not None:
                break  # finished before the kill
            process.send_signal(signal.SIGKILL)
            process.wait()
            kills += 1
            if os.path.isdir(os.path.join(killed, "run")):
                check_complete(os.path.join(killed, "run"), options.side)
            for path in (state, state + ".bak"):
                if os.path.exists(path):
                    check_state(path)
            if os.path.exists(state + ".bak"):
                last_backup = open(state + ".bak", "rb").read()

        finish(options.tarvo, ["--restore", "run/run.ini.state"] if os.path.exists(state) else ["run.ini"], killed)
        assert images(os.path.join(killed, "run")) == expected, "restored run differs"
        assert not os.path.exists(state) and not os.path.exists(state + ".bak")
        if last_backup is not None:
            backup = os.path.join(work, "backup", "run")
            os.makedirs(backup)
            with open(os.path.join(backup, "run.ini.state.bak"), "wb") as f:
                f.write(last_backup)
            finish(options.tarvo, ["--restore", "run/run.ini.state.bak"], os.path.dirname(backup))
            assert images(backup) == expected, "restored backup differs"
        print(f"ok: {kills} kills, {restores} restores, {options.side}x{options.side} detector")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
