"""The decoded-file comparison behind every SSIM figure of the report."""

import math
import os
import shutil
import subprocess
import tempfile
import unittest

import gifquality


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", *args], check=True)


@unittest.skipUnless(shutil.which("ffmpeg"), "needs ffmpeg")
class MeasureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.src = os.path.join(cls.tmp.name, "src")
        os.mkdir(cls.src)
        # Six distinct frames of a moving test pattern.
        ffmpeg("-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-frames:v", "6", "-start_number", "0",
               os.path.join(cls.src, "frame%05d.png"))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def encode_gif(self, name, frames, delays_cs):
        """A GIF of the first `frames` source frames with uneven delays."""
        listing = os.path.join(self.tmp.name, name + ".txt")
        with open(listing, "w") as f:
            f.write("ffconcat version 1.0\n")
            for i in range(frames):
                f.write(f"file '{self.src}/frame{i:05d}.png'\nduration {delays_cs[i] / 100}\n")
        out = os.path.join(self.tmp.name, name + ".gif")
        ffmpeg("-f", "concat", "-safe", "0", "-i", listing, "-fps_mode", "passthrough", out)
        return out

    def test_frames_pair_by_index_whatever_the_delays(self):
        gif = self.encode_gif("uneven", 6, [2, 37, 5, 150, 9, 4])
        result = gifquality.measure(gif, self.src, 6)
        self.assertEqual(result["frames"], 6)
        self.assertTrue(result["frames_ok"])
        # testsrc has few colours: a GIF of it is close to exact, frame by
        # frame; paired with the wrong frames it would not be.
        self.assertGreater(result["ssim_min"], 0.95)
        self.assertGreaterEqual(result["ssim_mean"], result["ssim_min"])
        self.assertGreater(result["psnr"], 25)

    def test_a_video_in_its_own_time_base_pairs_by_index_too(self):
        # Lossless H.264 at 30 fps: an MP4's time base (1/15360) does not hold
        # n / 25 s exactly, which once paired each frame with its predecessor.
        video = os.path.join(self.tmp.name, "lossless.mp4")
        ffmpeg("-framerate", "30", "-start_number", "0", "-i", os.path.join(self.src, "frame%05d.png"),
               "-c:v", "libx264", "-qp", "0", "-pix_fmt", "yuv444p", video)
        result = gifquality.measure(video, self.src, 6)
        self.assertEqual(result["frames"], 6)
        # Lossless, so every frame is identical to its source; neighbouring
        # frames of testsrc differ by little, but by far more than that.
        self.assertGreater(result["ssim_min"], 0.9999)
        self.assertGreater(result["psnr"], 60)

    def test_a_missing_frame_is_reported_not_hidden(self):
        gif = self.encode_gif("short", 4, [10, 10, 10, 10])
        result = gifquality.measure(gif, self.src, 6)
        self.assertEqual(result["frames"], 4)
        self.assertFalse(result["frames_ok"])

    def test_a_resized_file_is_not_compared(self):
        small = os.path.join(self.tmp.name, "small.gif")
        ffmpeg("-framerate", "10", "-start_number", "0", "-i", os.path.join(self.src, "frame%05d.png"),
               "-vf", "scale=32:24", small)
        self.assertEqual(gifquality.measure(small, self.src, 6), {"resized_to": "32x24"})

    def test_an_unreadable_file_raises(self):
        bad = os.path.join(self.tmp.name, "bad.gif")
        with open(bad, "wb") as f:
            f.write(b"GIF89a not really")
        with self.assertRaises(RuntimeError):
            gifquality.measure(bad, self.src, 6)


class ParseTest(unittest.TestCase):
    def test_stats_lines(self):
        ssim = ("n:1 Y:0.990000 U:0.980000 V:0.970000 All:0.980000 (16.989700)\n"
                "n:2 Y:0.900000 U:0.900000 V:0.900000 All:0.900000 (10.000000)\n")
        self.assertEqual(gifquality.parse_ssim(ssim), [0.98, 0.9])
        psnr = ("n:1 mse_avg:0.00 mse_y:0.00 psnr_avg:inf psnr_y:inf\n"
                "n:2 mse_avg:6.50 mse_y:1.00 psnr_avg:39.99 psnr_y:48.13\n")
        self.assertEqual(gifquality.parse_psnr_mse(psnr), [0.0, 6.5])
        # PSNR of the mean error, not the mean of per-frame PSNRs (one exact
        # frame would make that infinite).
        self.assertAlmostEqual(gifquality.psnr_of_mse([0.0, 6.5]), 10 * math.log10(255 * 255 / 3.25))
        self.assertTrue(math.isinf(gifquality.psnr_of_mse([0.0, 0.0])))

    def test_summary_flags_a_short_count(self):
        summary = gifquality.summarise([0.99, 0.97, 0.98], [1.0, 1.0, 1.0], 3)
        self.assertAlmostEqual(summary["ssim_mean"], 0.98)
        self.assertEqual(summary["ssim_min"], 0.97)
        self.assertTrue(summary["frames_ok"])
        self.assertFalse(gifquality.summarise([0.99], [1.0], 3)["frames_ok"])
        self.assertFalse(gifquality.summarise([], [], 3)["frames_ok"])


if __name__ == "__main__":
    unittest.main()
