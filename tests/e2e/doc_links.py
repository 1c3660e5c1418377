"""The relative links of a Markdown file, followed as a reader's browser follows them: inline
links and images (nested ones too), reference links and their definitions, and HTML src and
href, outside code and comments; a #fragment names a heading by its slug (GitHub's rule, its
numbering of repeated slugs included) or an explicit <a id>. Shared by the documentation test
and the archive test, which read the files from the source tree and from the archive."""

import posixpath
import re
import urllib.parse
import xml.etree.ElementTree

FENCE = re.compile(r"^ {0,3}(?:> *)?(`{3,}|~{3,})")
FENCE_END = re.compile(r"^ {0,3}(?:> *)?(`{3,}|~{3,})\s*$")
COMMENT = re.compile(r"<!--.*?-->", re.S)
# A code span stays within its paragraph; an escaped backtick opens none.
CODE_SPAN = re.compile(r"(?<![`\\])(`+)((?:(?!\n[ \t]*\n).)+?)(?<!`)\1(?!`)", re.S)
# What follows the text of every link or image: "](destination title)".
INLINE = re.compile(r"\]\(\s*(<[^<>\n]*>|(?:[^\s()<]|\([^\s()]*\))*)"
                    r"(?:\s+(?:\"[^\"]*\"|'[^']*'|\([^()]*\)))?\s*\)")
REFERENCE = re.compile(r"\]\[([^\[\]]*)\]")
DEFINITION = re.compile(r"^ {0,3}\[([^\]^][^\]]*)\]:[ \t]*<?([^\s>]+)>?", re.M)
HTML = re.compile(r"<(?:a|img)\b[^>]*?\b(?:href|src)=\"([^\"]*)\"", re.I)
ATX_HEADING = re.compile(r"^ {0,3}#{1,6}[ \t]+(.*?)(?:[ \t]+#+)?[ \t]*$")
SETEXT_UNDERLINE = re.compile(r"^ {0,3}(=+|-+)[ \t]*$")
HTML_ANCHOR = re.compile(r"<a\b[^>]*?\b(?:id|name)=\"([^\"]+)\"", re.I)
SVG = "{http://www.w3.org/2000/svg}svg"


def unfenced(text):
    """The text with its comments and fenced blocks blanked."""
    lines, fence = [], None
    for line in COMMENT.sub("", text).split("\n"):
        if fence:
            closing = FENCE_END.match(line)
            if closing and closing.group(1)[0] == fence[0] and len(closing.group(1)) >= len(fence):
                fence = None
            lines.append("")
        else:
            opening = FENCE.match(line)
            if opening:
                fence = opening.group(1)
            lines.append("" if opening else line)
    return "\n".join(lines)


def prose(text):
    """The text outside fenced blocks and comments, each code span made plain letters."""
    return CODE_SPAN.sub(lambda span: "x" * len(span.group(2)), unfenced(text).replace("\\`", "xx"))


def slug(heading):
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = re.sub(r"<[^>]+>", "", text).replace("`", "")
    text = re.sub(r"(?<!\w)_+(.+?)_+(?!\w)", r"\1", text).strip().lower()
    return re.sub(r"[^\w\- ]", "", text).replace(" ", "-")


def headings(text):
    lines = unfenced(text).split("\n")
    for i, line in enumerate(lines):
        atx = ATX_HEADING.match(line)
        if atx:
            yield atx.group(1)
        elif (line.strip() and i + 1 < len(lines) and SETEXT_UNDERLINE.match(lines[i + 1])
              and not re.match(r"^ {0,3}([-*+>|#]|\d+\.)", line) and (i == 0 or not lines[i - 1].strip())):
            yield line.strip()


def anchors(text):
    """Every fragment that names a place in the Markdown text."""
    found, occurrences = set(), {}
    for heading in headings(text):
        base = result = slug(heading)
        while result in occurrences:  # "Foo", "Foo 1", "Foo" are foo, foo-1 and foo-2
            occurrences[base] += 1
            result = "%s-%d" % (base, occurrences[base])
        occurrences[result] = 0
        found.add(result)
    found.update(HTML_ANCHOR.findall(unfenced(text)))
    return found


def label(text):
    return " ".join(text.split()).lower()


def problems(name, read):
    """What is wrong with the relative links of the Markdown file `name` (a path from the root,
    with /); read(path) gives a file's bytes, or None where there is no such file."""
    text = read(name).decode("utf-8")
    plain = prose(text)
    definitions = {label(ref): target for ref, target in DEFINITION.findall(plain)}
    found = []
    for ref in REFERENCE.findall(plain):
        if ref.strip() and label(ref) not in definitions:
            found.append("%s: [%s] names no link definition" % (name, ref))
    targets = [target.strip("<>") for target in INLINE.findall(plain)]
    for target in targets + list(definitions.values()) + HTML.findall(plain):
        if re.match(r"^[a-z][a-z0-9+.-]*:|^//", target, re.I):
            continue  # another site's, or mail
        path, _, fragment = target.partition("#")
        path = urllib.parse.unquote(path.partition("?")[0])
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
