"""The test signal of the playout bench and the analysis of its recordings.

The signal is a tone bed with a chirp every PERIOD seconds, alternately rising and falling, all at
one level, so that the received level is steady while the signal plays and any dropout shows. The
recording is stereo: left is the signal as it entered the sound server (the mouth), right is what
the far side played (the ear), both in one sample clock. Each chirp's delay is the distance
between its matched-filter peak in the two channels; the opposite chirp in between keeps a delay
up to 2 * PERIOD - CHIRP unambiguous.
"""
import wave

import numpy as np

RATE = 16000
PERIOD = 0.5  # seconds from one chirp to the next
CHIRP = 0.1  # chirp length, seconds
TONE = 1000.0  # the bed between the chirps, Hz
TURNS = (2000.0, 300.0)  # each kind of chirp sweeps from the bed to its turn and back (GSM keeps
# this band at a steady level; it loses much of 2.4 kHz and up)
LEVEL = 0.4  # peak level of the whole signal, of full scale
MATCH = 0.5  # least normalised correlation that counts as a chirp heard
ENVELOPE = 0.002  # seconds of the sliding level window of the gap search
SILENT = 10 ** (-30 / 20)  # a level this far below the median level is silence (-30 dB; a
# dropout is digital silence, a codec dips 20 dB at most)
GAP = 0.005  # the least silence that counts as a gap, seconds
LONG_GAP = 0.020  # gaps from this length on are counted apart as well
GUARD = 0.020  # seconds left out at both ends of the analysed stretch


def frequency(chirps, rate=RATE):
    """Instantaneous frequency of the test signal: the bed, and a chirp at the start of every
    period, rising (even numbers) or falling (odd numbers) and back. The frequency never jumps and
    the phase never breaks, so that a speech codec keeps the level steady; each chirp spans a whole
    number of cycles, so that all chirps of one kind are the same samples."""
    period = int(round(PERIOD * rate))
    length = int(round(CHIRP * rate))
    half = np.linspace(0.0, 1.0, length // 2, endpoint=False)
    shape = np.concatenate((half, 1.0 - half))
    out = np.full(chirps * period, TONE)
    for k in range(chirps):
        out[k * period:k * period + length] = TONE + (TURNS[k % 2] - TONE) * shape
    return out


def signal(chirps, rate=RATE):
    """The test signal with `chirps` chirps, the first at its first sample; float, full scale 1."""
    return LEVEL * np.sin(2 * np.pi * np.cumsum(frequency(chirps, rate)) / rate)


def chirp(kind, rate=RATE):
    """The samples of a chirp of this kind (0 rising, 1 falling), as the signal holds it."""
    period = int(round(PERIOD * rate))
    return signal(2, rate)[kind * period:kind * period + int(round(CHIRP * rate))]


def write_wav(path, channels, rate=RATE):
    """Writes float channels (full scale 1) as 16-bit PCM."""
    data = np.clip(np.stack(channels, axis=1), -1, 1)
    with wave.open(path, "wb") as w:
        w.setnchannels(len(channels))
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes((data * 32767).round().astype("<i2").tobytes())


def read_wav(path):
    """Returns (rate, channels as float arrays) of a 16-bit PCM WAV file."""
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError("%s: 16-bit samples expected" % path)
        rate, count = w.getframerate(), w.getnchannels()
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(float) / 32768
    return rate, [data[i::count] for i in range(count)]


def read_raw(path, channels=2):
    data = np.frombuffer(open(path, "rb").read(), dtype="<i2")
    data = data[:len(data) // channels * channels].astype(float) / 32768
    return [data[i::channels] for i in range(channels)]


def matched(x, template):
    """Normalised cross-correlation of `template` at every start position of x (0..1)."""
    n, m = len(x), len(template)
    if n < m:
        return np.zeros(0)
    size = 1 << int(np.ceil(np.log2(n + m)))
    corr = np.fft.irfft(np.fft.rfft(x, size) * np.conj(np.fft.rfft(template, size)), size)[:n - m + 1]
    energy = np.concatenate(([0.0], np.cumsum(x * x)))
    local = np.sqrt(np.maximum(energy[m:] - energy[:-m], 1e-12))
    return np.abs(corr) / (local * np.linalg.norm(template))


def analyse(mouth, ear, chirps, rate=RATE, max_delay=None):
    """Finds every chirp in both channels and the gaps in the ear channel.

    Returns a dict: `delays` (seconds per chirp, None where the ear lacks it), `emitted` (seconds of
    each chirp in the mouth channel from the first), `window` (seconds analysed for gaps),
    `silent` (seconds of it in gaps), `gaps` (list of (start, length) in seconds, start from the
    first chirp's emission).
    """
    period = int(round(PERIOD * rate))
    length = int(round(CHIRP * rate))
    if max_delay is None:
        max_delay = 2 * PERIOD - CHIRP - 0.01
    reach = int(max_delay * rate)
    templates = [chirp(0, rate), chirp(1, rate)]
    mouth_match = [matched(mouth, t) for t in templates]
    ear_match = [matched(ear, t) for t in templates]
    above = np.flatnonzero(mouth_match[0] > 0.9)
    if len(above) == 0:
        raise ValueError("the test signal is not in the mouth channel")
    first = above[0] + int(np.argmax(mouth_match[0][above[0]:above[0] + length]))
    emitted, delays = [], []
    slack = int(0.01 * rate)
    for k in range(chirps):
        kind = k % 2
        expected = first + k * period
        lo, hi = max(expected - slack, 0), min(expected + slack, len(mouth_match[kind]))
        if lo >= hi:
            break
        at = lo + int(np.argmax(mouth_match[kind][lo:hi]))
        emitted.append(at)
        search = ear_match[kind][at:at + reach]
        if len(search) == 0 or search.max() < MATCH:
            delays.append(None)
            continue
        delays.append(int(np.argmax(search)) / rate)
    heard = [k for k, d in enumerate(delays) if d is not None]
    result = {"emitted": [(e - first) / rate for e in emitted], "delays": delays, "gaps": [], "window": 0.0,
              "silent": 0.0}
    if not heard:
        return result
    # The stretch where the ear should hear the signal: from the first chirp's arrival to the end
    # of the tone after the last chirp heard (the signal's own end), each by its own delay.
    begin = emitted[heard[0]] + int(delays[heard[0]] * rate) + int(GUARD * rate)
    last = heard[-1]
    end = emitted[last] + int(delays[last] * rate) + period - int(GUARD * rate)
    end = min(end, len(ear))
    if end - begin <= 0:
        return result
    part = ear[begin:end]
    width = int(round(ENVELOPE * rate))
    energy = np.concatenate(([0.0], np.cumsum(part * part)))
    level = np.sqrt((energy[width:] - energy[:-width]) / width)  # level[i]: samples i .. i+width-1
    quiet = level < SILENT * np.median(level)
    edges = np.diff(np.concatenate(([0], quiet.astype(int), [0])))
    starts, stops = np.flatnonzero(edges == 1), np.flatnonzero(edges == -1)
    gaps = []
    for start, stop in zip(starts, stops):
        # Every window inside a silence is quiet, and so are those that overlap it by all but a
        # little: the run of quiet windows plus one width is the silence's length.
        seconds = (stop - start + width - 1) / rate
        if seconds >= GAP:
            gaps.append(((begin + start - emitted[0]) / rate, seconds))
    window = (end - begin) / rate
    result.update(gaps=gaps, window=window, silent=sum(g[1] for g in gaps))
    return result


def summary(result, first_words=1.0, steady=(2.0, 8.0)):
    """Reduces one analysis to the bench's figures: first-word delay (the largest delay of the
    chirps found among those emitted within `first_words` seconds of the start: the listener waits
    for the last of them), steady delay (median of the chirps emitted within `steady`), silent
    share, gaps a minute, chirps not found (lost, or cut by a gap or a discard inside them)."""
    pairs = list(zip(result["emitted"], result["delays"]))
    slack = 0.01  # the emission times are measured: a chirp due at first_words is not early
    early = [d for e, d in pairs if e < first_words - slack and d is not None]
    later = [d for e, d in pairs if steady[0] <= e < steady[1] and d is not None]
    window = result["window"]
    return {
        "first": max(early) if early else None,
        "steady": float(np.median(later)) if later else None,
        "silent": result["silent"] / window if window else None,
        "gaps_per_minute": len(result["gaps"]) * 60.0 / window if window else None,
        "long_gaps_per_minute": sum(1 for g in result["gaps"] if g[1] >= LONG_GAP) * 60.0 / window if window else None,
        "unfound": sum(1 for _, d in pairs if d is None),
        "chirps": len(pairs),
    }
