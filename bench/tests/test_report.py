"""The table's arithmetic: which runs it reads, and the pass/fail lines."""

import json
import os
import tempfile
import unittest
from unittest import mock

import report


def run(name, ms, **counters):
    b = {"name": name, "run_name": name, "run_type": "iteration", "real_time": ms, "cpu_time": ms / 2,
         "time_unit": "ms"}
    b.update(counters)
    return b


class BenchmarksTest(unittest.TestCase):
    def test_run_options_are_dropped_and_the_median_wins(self):
        doc = {"benchmarks": [
            run("typing-640x420/gif/imageIO/high/iterations:1/real_time", 500, bytes=1000),
            run("BM_Memcpy/640/min_time:0.300/repeats:3", 0.05),
            {"name": "BM_Memcpy/640/min_time:0.300/repeats:3_mean", "run_name": "BM_Memcpy/640/min_time:0.300/repeats:3",
             "run_type": "aggregate", "aggregate_name": "mean", "real_time": 0.04, "cpu_time": 0.04, "time_unit": "ms"},
            {"name": "BM_Memcpy/640/min_time:0.300/repeats:3_median",
             "run_name": "BM_Memcpy/640/min_time:0.300/repeats:3", "run_type": "aggregate",
             "aggregate_name": "median", "real_time": 0.02, "cpu_time": 0.02, "time_unit": "ms"},
            dict(run("typing-640x420/gif/gifski/high/iterations:1/real_time", 1), error_occurred=True),
        ]}
        runs = report.benchmarks(doc)
        self.assertEqual(sorted(runs), ["BM_Memcpy/640", "typing-640x420/gif/imageIO/high"])
        self.assertAlmostEqual(report.seconds(runs["BM_Memcpy/640"]), 0.02e-3)
        self.assertAlmostEqual(report.seconds(runs["typing-640x420/gif/imageIO/high"]), 0.5)

    def test_times_and_sizes_read_as_people_write_them(self):
        self.assertEqual(report.fmt_time(2.5), "2.50 s")
        self.assertEqual(report.fmt_time(0.0123), "12.3 ms")
        self.assertEqual(report.fmt_time(42e-6), "42 µs")
        self.assertEqual(report.fmt_bytes(206028), "206.0 kB")
        self.assertEqual(report.fmt_bytes(23.73e6), "23.73 MB")


class TargetsTest(unittest.TestCase):
    """The Done-when lines: smaller than ffmpeg "high" with SSIM at most 0.005
    lower on typing and scrolling, at least twice as fast as gifski "high"."""

    def checks(self, builtin_bytes, builtin_ssim, builtin_ms, gifski_ms=10000.0, clip="typing-640x420",
               gifski_fidelity=None):
        with tempfile.TemporaryDirectory() as results:
            doc = {"benchmarks": [
                run(f"{clip}/gif/imageIO/high/iterations:1/real_time", builtin_ms, bytes=builtin_bytes, frames=300),
                run(f"{clip}/gif/ffmpeg/high/iterations:1/real_time", 5000, bytes=1000, frames=300),
                run(f"{clip}/gif/gifski/high/iterations:1/real_time", gifski_ms, bytes=1500, frames=300),
            ]}
            with open(os.path.join(results, "export.json"), "w") as f:
                json.dump(doc, f)
            for name in ("imageIO-high", "ffmpeg-high", "gifski-high"):
                os.makedirs(os.path.join(results, "files", clip), exist_ok=True)
                open(os.path.join(results, "files", clip, name + ".gif"), "w").close()

            def measure(path, source, frames):
                if "imageIO" in path:
                    return {"frames": 300, "ssim_mean": builtin_ssim, "ssim_min": builtin_ssim, "psnr": 40.0,
                            "frames_ok": True}
                if "gifski" in path and gifski_fidelity:
                    return gifski_fidelity
                return {"frames": 300, "ssim_mean": 0.99, "ssim_min": 0.98, "psnr": 45.0, "frames_ok": True}

            checks = []
            with mock.patch.object(report.gifquality, "measure", side_effect=measure):
                rows = report.export_rows(results, "/clips", 1, checks)
            return rows, checks

    def test_smaller_and_as_good_passes(self):
        _, checks = self.checks(builtin_bytes=900, builtin_ssim=0.986, builtin_ms=1000)
        self.assertEqual([c.split()[0] for c in checks], ["PASS", "PASS"])

    def test_a_larger_file_or_ssim_beyond_the_margin_fails(self):
        _, checks = self.checks(builtin_bytes=1001, builtin_ssim=0.99, builtin_ms=1000)
        self.assertTrue(checks[0].startswith("FAIL"))
        _, checks = self.checks(builtin_bytes=900, builtin_ssim=0.984, builtin_ms=1000)
        self.assertTrue(checks[0].startswith("FAIL"))

    def test_less_than_twice_as_fast_as_gifski_fails(self):
        _, checks = self.checks(builtin_bytes=900, builtin_ssim=0.99, builtin_ms=5100)
        self.assertTrue(checks[1].startswith("FAIL"))
        self.assertIn("2.0× faster", self.checks(900, 0.99, 5000)[1][1])

    def test_video_has_no_size_target_and_resized_files_are_shown_not_compared(self):
        _, checks = self.checks(builtin_bytes=5000, builtin_ssim=0.5, builtin_ms=1000, clip="video-640x420")
        self.assertEqual(len(checks), 1)
        self.assertIn("faster than gifski", checks[0])
        rows, _ = self.checks(900, 0.99, 1000, gifski_fidelity={"resized_to": "426x280"})
        gifski = [r for r in rows if r[2] == "GIF gifski high"][0]
        self.assertEqual(gifski[5], "not compared: the file is 426x280")
        # Ratios are built-in over the other path, from the same run.
        self.assertEqual(gifski[6], "built-in: 0.60× size, 0.10× time")


class EstimateTest(unittest.TestCase):
    """The size estimate is judged against the file the same path wrote in the
    same run: within 30 % passes."""

    def rows_and_checks(self, estimates):
        with tempfile.TemporaryDirectory() as results:
            clip = "typing-640x420"
            doc = {"benchmarks": [run(f"{clip}/gif/gifski/high/iterations:1/real_time", 5000, bytes=1000, frames=300),
                                  run(f"{clip}/anim/webp/high/iterations:1/real_time", 2000, bytes=400, frames=300)]}
            for key, estimate in estimates.items():
                doc["benchmarks"].append(run(f"{clip}/estimate/{key}/iterations:1/real_time", 300,
                                             estimate_bytes=estimate))
            with open(os.path.join(results, "export.json"), "w") as f:
                json.dump(doc, f)
            checks = []
            with mock.patch.object(report.gifquality, "measure", side_effect=RuntimeError("no files")):
                rows = report.export_rows(results, "/clips", 1, checks)
            return rows, checks

    def test_within_the_margin_passes_and_beyond_it_fails(self):
        rows, checks = self.rows_and_checks({"gif/gifski/high": 1290, "anim/webp/high": 270})
        self.assertEqual([c.split()[0] for c in checks], ["FAIL", "PASS"])
        self.assertIn("size estimate of WebP high", checks[0])
        estimate = [r for r in rows if r[2] == "size estimate: GIF gifski high"][0]
        self.assertEqual(estimate[6], "real 1.0 kB: 1.29×")
        self.assertTrue([r for r in rows if r[2] == "WebP high"])


if __name__ == "__main__":
    unittest.main()


class StoreTest(unittest.TestCase):
    """The frame store's goals: resident memory per kept frame (typing 2 %,
    scrolling 10 %, every clip 60 %) and one full-HD frame read in 10 ms."""

    def checks(self, clips):
        with tempfile.TemporaryDirectory() as results:
            doc = {"benchmarks": [run("BM_Memcpy/1920/1080", 2.0)]}
            for clip, (rss, decode_s) in clips.items():
                doc["benchmarks"].append(run(f"BM_StoreClip/{clip}/iterations:1", 100, frames=300, raw_bytes=8294400,
                                             rss_ratio=rss, disk_ratio=rss * 2, key_frames=5, append_median_s=1e-6,
                                             write_cpu_per_frame_s=4e-3, write_wall_per_frame_s=5e-3,
                                             decode_random_mean_s=decode_s, decode_random_worst_s=decode_s * 2,
                                             decode_playing_s=1e-3))
            with open(os.path.join(results, "store.json"), "w") as f:
                json.dump(doc, f)
            checks = []
            rows = report.store_rows(results, checks)
            return rows, checks

    def test_each_clip_meets_its_own_goal(self):
        rows, checks = self.checks({"typing-1920x1080": (0.019, 0.009), "scrolling-1920x1080": (0.11, 0.004),
                                    "video-1920x1080": (0.59, 0.011)})
        self.assertEqual([c.split()[0] for c in checks], ["PASS", "PASS", "FAIL", "PASS", "PASS", "FAIL"])
        cpu = [r for r in rows if "CPU per frame" in r[2]]
        self.assertEqual(cpu[0][-1], "2.0× memcpy")  # 4 ms against a 2 ms copy of the same frame

    def test_no_clip_may_pass_the_ceiling(self):
        _, checks = self.checks({"video-1280x840": (0.61, 0.001)})
        self.assertEqual([c.split()[0] for c in checks], ["FAIL"])


class BusyScreenTest(unittest.TestCase):
    """Frames kept against the distinct frames ffmpeg saw, capped at the
    requested rate; the median run of a case stands for it."""

    @staticmethod
    def line(kept, distinct, fps=30, clients=1, size="640x420", trips=1.0):
        return {"clients": clients, "size": size, "requested_fps": fps, "seconds": 10.0, "kept": kept * 10,
                "kept_per_second": kept, "samples": fps * 10, "idle": 0, "ffmpeg_seconds": 10.0,
                "ffmpeg_frames": fps * 10, "ffmpeg_distinct": distinct * 10, "round_trips_per_sample": trips,
                "blocked_ms_per_sample": 0.5, "cpu_per_second": 0.1, "x_server_cpu_per_second": 0.2, "load": 1.5}

    def rows(self, lines):
        with tempfile.TemporaryDirectory() as results:
            with open(os.path.join(results, "busy.jsonl"), "w") as f:
                f.write("\n".join(json.dumps(x) for x in lines) + "\n")
            checks = []
            return report.busy_rows(results, checks), checks

    def test_the_share_is_capped_at_the_requested_rate(self):
        cases = [
            (self.line(28.6, 29.0), "PASS", "99 %"),  # ffmpeg's distinct frames are the reference
            (self.line(28.0, 29.9), "FAIL", "94 %"),
            (self.line(14.5, 29.0, fps=15), "PASS", "97 %"),  # ffmpeg saw more than the 15 asked for
            (self.line(31.0, 29.0), "PASS", "107 %"),
        ]
        for line, verdict, share in cases:
            rows, checks = self.rows([line])
            self.assertEqual(checks[0].split()[0], verdict, checks)
            self.assertTrue(rows[0][-1].startswith(share), rows[0])

    def test_repeated_runs_show_the_median_and_the_spread(self):
        rows, checks = self.rows([self.line(20.0, 30.0), self.line(29.0, 30.0), self.line(30.0, 30.0),
                                  self.line(10.0, 20.0, clients=3)])
        self.assertEqual(len(rows), 2)
        self.assertIn("97 % of ffmpeg's", rows[0][-1])
        self.assertIn("(runs: 67 %, 97 %, 100 %)", rows[0][-1])
        self.assertEqual([c.split()[0] for c in checks], ["PASS", "FAIL"])
