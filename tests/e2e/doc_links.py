"""The relative links of a Markdown file, followed as a reader's browser follows them: inline
links and images, reference definitions and HTML src and href, outside code; a #fragment names a
heading by its slug (GitHub's rule) or an explicit <a id>. Shared by the documentation test and
the archive test, which read the files from the source tree and from the archive."""

import posixpath
import re
import urllib.parse
import xml.etree.ElementTree

FENCE = re.compile(r"^ *(?:> *)?(```+|~~~+)")
CODE_SPAN = re.compile(r"(`+)(.+?)\1", re.S)
INLINE = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*<?([^()\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
DEFINITION = re.compile(r"^ {0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s.*)?$", re.M)
HTML = re.compile(r"<(?:a|img)\b[^>]*?\b(?:href|src)=\"([^\"]*)\"", re.I)
HEADING = re.compile(r"^ {0,3}#{1,6}[ \t]+(.*?)[ \t]*#*[ \t]*$", re.M)
HTML_ANCHOR = re.compile(r"<a\b[^>]*?\b(?:id|name)=\"([^\"]+)\"", re.I)
SVG = "{http://www.w3.org/2000/svg}svg"


def unfenced(text):
    """The text with its fenced blocks blanked."""
    lines, fence = [], None
    for line in text.split("\n"):
        opening = FENCE.match(line)
        if fence:
            if opening and opening.group(1)[0] == fence[0] and len(opening.group(1)) >= len(fence) \
                    and line.strip() == opening.group(1):
                fence = None
            lines.append("")
        elif opening:
            fence = opening.group(1)
            lines.append("")
        else:
            lines.append(line)
    return "\n".join(lines)


def prose(text):
    """The text outside fenced blocks, each code span made plain letters."""
    return CODE_SPAN.sub(lambda span: "x" * len(span.group(2)), unfenced(text))


def slug(heading):
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = re.sub(r"<[^>]+>", "", text).replace("`", "").strip().lower()
    return re.sub(r"[^\w\- ]", "", text).replace(" ", "-")


def anchors(text):
    """Every fragment that names a place in the Markdown text."""
    found, seen = set(), {}
    for heading in HEADING.findall(unfenced(text)):
        base = slug(heading)
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.add(base if count == 0 else "%s-%d" % (base, count))
    found.update(HTML_ANCHOR.findall(text))
    return found


def targets(text):
    plain = prose(text)
    return INLINE.findall(plain) + DEFINITION.findall(plain) + HTML.findall(plain)


def problems(name, read):
    """What is wrong with the relative links of the Markdown file `name` (a path from the root,
    with /); read(path) gives a file's bytes, or None where there is no such file."""
    text = read(name).decode("utf-8")
    found = []
    for target in targets(text):
        if re.match(r"^[a-z][a-z0-9+.-]*:|^//", target, re.I):
            continue  # another site's, or mail
        path, _, fragment = target.partition("#")
        path = urllib.parse.unquote(path)
        if path.startswith("/"):
            found.append("%s: %s names a path from the root, which no copy of these files keeps" % (name, target))
            continue
        resolved = posixpath.normpath(posixpath.join(posixpath.dirname(name), path)) if path else name
        if resolved == ".." or resolved.startswith("../"):
            found.append("%s: %s leads out of the project" % (name, target))
            continue
        content = read(resolved)
        if content is None:
            found.append("%s: %s names %s, which is not there" % (name, target, resolved))
            continue
        if fragment:
            if not resolved.endswith(".md"):
                found.append("%s: %s names a place in a file that is not Markdown" % (name, target))
            elif urllib.parse.unquote(fragment) not in anchors(content.decode("utf-8")):
                found.append("%s: %s names no heading of %s" % (name, target, resolved))
        if resolved.endswith(".svg"):
            try:
                if xml.etree.ElementTree.fromstring(content).tag != SVG:
                    found.append("%s: %s is not an SVG picture" % (name, resolved))
            except xml.etree.ElementTree.ParseError as error:
                found.append("%s: %s is not well-formed: %s" % (name, resolved, error))
    return found
