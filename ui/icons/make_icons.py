#!/usr/bin/env python3
"""Writes the program's icons as SVG: the application icon and the link icon's 14 frames.

Our own drawings: a handheld with a sync mark on its screen; in the animation the two
arrows of the mark turn and light up while a transfer runs (frame 0 is the idle picture).
Run it from this folder after changing a drawing: python3 make_icons.py
"""
import math

FRAMES = 14


def arrows(cx, cy, r, width, colour, angle):
    """Two arcs chasing each other around (cx, cy), each with its arrowhead."""
    parts = []
    for start in (0, 180):
        a0 = math.radians(start + 20)
        a1 = math.radians(start + 150)
        x0, y0 = cx + r * math.cos(a0), cy + r * math.sin(a0)
        x1, y1 = cx + r * math.cos(a1), cy + r * math.sin(a1)
        parts.append(
            f'<path d="M{x0:.2f},{y0:.2f} A{r},{r} 0 0 1 {x1:.2f},{y1:.2f}" fill="none" '
            f'stroke="{colour}" stroke-width="{width}" stroke-linecap="round"/>')
        # the head at the arc's end, pointing along the turn
        tx, ty = -math.sin(a1), math.cos(a1)
        nx, ny = math.cos(a1), math.sin(a1)
        h = width * 1.9
        tip = (x1 + tx * h, y1 + ty * h)
        left = (x1 + nx * h, y1 + ny * h)
        right = (x1 - nx * h, y1 - ny * h)
        parts.append(
            f'<path d="M{tip[0]:.2f},{tip[1]:.2f} L{left[0]:.2f},{left[1]:.2f} '
            f'L{right[0]:.2f},{right[1]:.2f} Z" fill="{colour}"/>')
    return (f'<g transform="rotate({angle:.1f} {cx} {cy})">' + "".join(parts) + '</g>')


def handheld(x, y, w, h, screen_h, mark):
    """A handheld seen from the front: body, screen with the mark, four buttons."""
    r = w * 0.18
    sx, sy, sw = x + w * 0.14, y + h * 0.1, w * 0.72
    buttons = "".join(
        f'<circle cx="{x + w * (0.2 + 0.2 * i):.2f}" cy="{y + h * 0.86:.2f}" r="{w * 0.07:.2f}" '
        f'fill="#aab4bf"/>' for i in range(4))
    return (
        f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="{r:.2f}" fill="url(#body)" '
        f'stroke="#1b2229" stroke-width="{w * 0.045:.2f}"/>'
        f'<rect x="{sx:.2f}" y="{sy:.2f}" width="{sw:.2f}" height="{screen_h:.2f}" '
        f'rx="{w * 0.04:.2f}" fill="url(#lcd)" stroke="#27331f" stroke-width="{w * 0.025:.2f}"/>'
        + mark + buttons)


DEFS = ('<defs>'
        '<linearGradient id="body" x1="0" y1="0" x2="1" y2="1">'
        '<stop offset="0" stop-color="#5b6876"/><stop offset="1" stop-color="#2f3842"/>'
        '</linearGradient>'
        '<linearGradient id="lcd" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#cfe3bd"/><stop offset="1" stop-color="#a9c795"/>'
        '</linearGradient>'
        '<linearGradient id="cradle" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#4a5561"/><stop offset="1" stop-color="#20272e"/>'
        '</linearGradient>'
        '</defs>')


def svg(size, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
            f'viewBox="0 0 {size} {size}">' + DEFS + body + '</svg>\n')


def frame(n):
    # frame 0: the idle mark, still and quiet; then the arrows turn and glow
    idle = n == 0
    colour = "#4f6a45" if idle else ("#1565c0" if n % 2 else "#1e88e5")
    angle = 0 if idle else (n - 1) * 360.0 / (FRAMES - 1)
    mark = arrows(16, 11.6, 3.9, 1.5, colour, angle)
    body = handheld(7, 1.5, 18, 29, 14.5, mark)
    if not idle:  # the link: dots running down into the handheld's port
        for i in range(3):
            y = 1 + ((n + i * 4) % 12) * 0.25
            body = (f'<circle cx="{4 + i * 0.0:.1f}" cy="{8 + i * 7 + y:.2f}" r="1.3" '
                    f'fill="#1e88e5" opacity="{0.45 + 0.2 * i:.2f}"/>') + body
    return svg(32, body)


def application():
    mark = arrows(32, 22, 8, 3, "#1565c0", 0)
    cradle = ('<path d="M10,46 L54,46 L58,60 L6,60 Z" fill="url(#cradle)" stroke="#12171c" '
              'stroke-width="1.5" stroke-linejoin="round"/>'
              '<rect x="24" y="54" width="16" height="2.5" rx="1" fill="#7d8a97"/>')
    return svg(64, handheld(15, 3, 34, 52, 28, mark) + cradle)


if __name__ == "__main__":
    for n in range(FRAMES):
        with open(f"link_{n:02d}.svg", "w") as f:
            f.write(frame(n))
    with open("application.svg", "w") as f:
        f.write(application())
