#!/usr/bin/env python3
"""Generates the bundled walk example: rest.kvt (rest pose), walk.kvt (a one-second
walk cycle at 30 frames per second) and walk.job.kvt (the job configuration).

Run from anywhere: python3 examples/walk/gen_walk.py. The output is deterministic;
the generated files are committed next to this script.

Bones are given in their parent's frame (translation in metres, rotation as a
unit quaternion x y z w). Animated bones move relative to their rest pose; four
bones (Spine1, Neck and the forearms) keep their rest pose in every frame, so
the tool drops them as identity. rest.kvt names each bone's parent ("parent"
key, none for Hips), so that animinspect can measure the error in object space;
it gives no unit ("meters_per_unit"), so animinspect takes its shell distance
from the size of the rest pose.
"""
import math
import os
import struct

FPS = 30
CYCLE = 1.0  # seconds per walk cycle (two steps)
FRAMES = int(round(CYCLE * FPS)) + 1  # both ends of the cycle
SPEED = 1.3  # metres per second forward (+z)


def f32(v):
    return struct.unpack('<f', struct.pack('<f', v))[0]


def fmt(v):
    """Shortest text that reads back as the same 32-bit float, in the form of
    the canonical text writer: the shorter of fixed and scientific notation
    (fixed on a tie), always with a '.' or an exponent."""
    x = f32(v)
    if x == 0.0:
        return '-0.0' if math.copysign(1.0, x) < 0 else '0.0'
    for p in range(1, 10):
        s = '%.*e' % (p - 1, x)
        if f32(float(s)) == x:
            break
    mant, exp = s.split('e')
    exp = int(exp)
    sign = '-' if mant.startswith('-') else ''
    digits = mant.lstrip('-').replace('.', '')
    sci = sign + digits[0] + ('.' + digits[1:] if len(digits) > 1 else '') + 'e' + ('-' if exp < 0 else '+') + '%02d' % abs(exp)
    if exp >= 0:
        if len(digits) <= exp + 1:
            fixed = sign + digits + '0' * (exp + 1 - len(digits))
        else:
            fixed = sign + digits[:exp + 1] + '.' + digits[exp + 1:]
    else:
        fixed = sign + '0.' + '0' * (-exp - 1) + digits
    text = fixed if len(fixed) <= len(sci) else sci
    if '.' not in text and 'e' not in text:
        text += '.0'
    return text


def qmul(a, b):
    ax, ay, az, aw = a
    bx, by, bz, bw = b
    return (aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw,
            aw * bw - ax * bx - ay * by - az * bz)


def axis_angle(axis, degrees):
    h = math.radians(degrees) / 2.0
    s = math.sin(h)
    n = math.sqrt(sum(c * c for c in axis))
    return (axis[0] / n * s, axis[1] / n * s, axis[2] / n * s, math.cos(h))


IDENT = (0.0, 0.0, 0.0, 1.0)
X, Y, Z = (1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0)

# Rest pose: name -> (translation, rotation), in hierarchy order.
REST = [
    ('Hips', (0.0, 0.95, 0.0), IDENT),
    ('Spine', (0.0, 0.1, -0.01), IDENT),
    ('Spine1', (0.0, 0.14, 0.0), axis_angle(X, 3.0)),
    ('Neck', (0.0, 0.22, 0.01), axis_angle(X, -8.0)),
    ('Head', (0.0, 0.1, 0.02), axis_angle(X, 5.0)),
    ('LeftUpLeg', (0.09, -0.06, 0.0), IDENT),
    ('LeftLeg', (0.0, -0.42, 0.0), IDENT),
    ('LeftFoot', (0.0, -0.41, -0.02), IDENT),
    ('RightUpLeg', (-0.09, -0.06, 0.0), IDENT),
    ('RightLeg', (0.0, -0.42, 0.0), IDENT),
    ('RightFoot', (0.0, -0.41, -0.02), IDENT),
    ('LeftArm', (0.17, 0.18, 0.0), axis_angle(Z, -75.0)),
    ('LeftForeArm', (0.0, -0.28, 0.0), axis_angle(X, 10.0)),
    ('RightArm', (-0.17, 0.18, 0.0), axis_angle(Z, 75.0)),
    ('RightForeArm', (0.0, -0.28, 0.0), axis_angle(X, 10.0)),
]

# Each bone's parent (Hips is the top bone): the arms hang from the upper spine.
PARENT = {
    'Spine': 'Hips', 'Spine1': 'Spine', 'Neck': 'Spine1', 'Head': 'Neck',
    'LeftUpLeg': 'Hips', 'LeftLeg': 'LeftUpLeg', 'LeftFoot': 'LeftLeg',
    'RightUpLeg': 'Hips', 'RightLeg': 'RightUpLeg', 'RightFoot': 'RightLeg',
    'LeftArm': 'Spine1', 'LeftForeArm': 'LeftArm', 'RightArm': 'Spine1', 'RightForeArm': 'RightArm',
}


def leg_swing(phase):
    """Hip flexion (degrees, + forward) at phase 0..1 of the leg's own cycle."""
    return 28.0 * math.sin(2.0 * math.pi * phase)


def knee_bend(phase):
    """Knee flexion (degrees): small in stance, large in swing."""
    p = phase % 1.0
    stance = 8.0 * math.sin(math.pi * p / 0.6) if p < 0.6 else 0.0
    swing = 55.0 * math.sin(math.pi * (p - 0.6) / 0.4) if p >= 0.6 else 0.0
    return stance + swing


def pose_at(name, rest_t, rest_q, t):
    """Animated local pose of a bone at time t (seconds)."""
    w = 2.0 * math.pi * t / CYCLE
    tx, ty, tz = rest_t
    delta = IDENT
    if name == 'Hips':
        tx += 0.025 * math.sin(w)
        ty += 0.02 * math.cos(2.0 * w)  # two bobs per cycle, high at mid-stance
        tz += SPEED * t
        delta = qmul(axis_angle(Y, 5.0 * math.sin(w)), axis_angle(Z, 3.0 * math.sin(w + 0.5)))
    elif name == 'Spine':
        delta = qmul(axis_angle(Y, -4.0 * math.sin(w)), axis_angle(X, 2.0 + 1.0 * math.cos(2.0 * w)))
    elif name == 'Head':
        delta = axis_angle(X, -1.5 * math.cos(2.0 * w))  # keeps the gaze level against the bob
    elif name in ('LeftUpLeg', 'RightUpLeg'):
        phase = t / CYCLE + (0.0 if name.startswith('Left') else 0.5)
        delta = axis_angle(X, -leg_swing(phase))
    elif name in ('LeftLeg', 'RightLeg'):
        phase = t / CYCLE + (0.0 if name.startswith('Left') else 0.5) + 0.25
        delta = axis_angle(X, knee_bend(phase))
    elif name in ('LeftFoot', 'RightFoot'):
        phase = t / CYCLE + (0.0 if name.startswith('Left') else 0.5)
        delta = axis_angle(X, 12.0 * math.sin(2.0 * math.pi * phase + 1.2))
    elif name in ('LeftArm', 'RightArm'):
        # Arms swing against the leg of their own side.
        phase = t / CYCLE + (0.5 if name.startswith('Left') else 0.0)
        delta = axis_angle(X, -18.0 * math.sin(2.0 * math.pi * phase))
    if delta == IDENT:
        return (tx, ty, tz), rest_q  # Spine1, Neck and the forearms: exactly the rest pose
    q = qmul(rest_q, delta)
    n = math.sqrt(sum(c * c for c in q))
    q = tuple(c / n for c in q)
    if q[3] < 0.0:
        q = tuple(-c for c in q)
    return (tx, ty, tz), q


def path_chunk(lines, name, range_end, frames, first, parent=None):
    lines.append(('  path_array {' if first else '  } {'))
    lines.append('    name "%s"' % name)
    if parent:
        lines.append('    parent "%s"' % parent)
    lines.append('    range 0.0 %s' % fmt(range_end))
    for i, (key, tr, q) in enumerate(frames):
        lines.append('    frame_array {' if i == 0 else '    } {')
        lines.append('      key %s' % fmt(key))
        lines.append('      transl %s' % ' '.join(fmt(c) for c in tr))
        lines.append('      quat %s' % ' '.join(fmt(c) for c in q))
    lines.append('    }')


def path_file(paths, header, parents=None):
    lines = ['// ' + header, 'format "quorvel_path_5"', 'data {']
    for i, (name, range_end, frames) in enumerate(paths):
        path_chunk(lines, name, range_end, frames, i == 0, (parents or {}).get(name))
    lines.append('  }')
    lines.append('}')
    return '\n'.join(lines) + '\n'


def main():
    out = os.path.dirname(os.path.abspath(__file__))
    rest = [(name, 0.0, [(0.0, t, q)]) for name, t, q in REST]
    walk = []
    for name, rt, rq in REST:
        frames = []
        for i in range(FRAMES):
            key = i / FPS
            tr, q = pose_at(name, rt, rq, key)
            frames.append((key, tr, q))
        walk.append((name, (FRAMES - 1) / FPS, frames))
    with open(os.path.join(out, 'rest.kvt'), 'w', newline='\n') as f:
        f.write(path_file(rest, 'rest pose of the walk example (generated by gen_walk.py)', PARENT))
    with open(os.path.join(out, 'walk.kvt'), 'w', newline='\n') as f:
        f.write(path_file(walk, 'walk cycle, 1 s at 30 fps (generated by gen_walk.py)'))
    job = '\n'.join([
        '// Walk cycle relative to the rest pose (generated by gen_walk.py).',
        '// Paths are resolved against the -refdir option.',
        'ref_path "rest.kvt"',
        'anim_path "walk.kvt"',
        'do_transl true',
        'do_quat true',
        'compress false',
        '// Distances to the identity below which a key counts as unmoved:',
        '// metres for translations, quaternion units (not an angle) for rotations.',
        'identity_eps_transl 0.0001',
        'identity_eps_quat 0.0001',
        'mask_array {',
        '  bone_pat "Spine*"',
        '  wgh 0.5',
        '} {',
        '  bone_pat "*Arm"',
        '  wgh 1.0',
        '}',
    ]) + '\n'
    with open(os.path.join(out, 'walk.job.kvt'), 'w', newline='\n') as f:
        f.write(job)


if __name__ == '__main__':
    main()
