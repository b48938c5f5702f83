"""compile_catalogue.py's translated lines for the packaging's files: a
desktop action's Name from the tray menu's texts, an AppStream paragraph
wrapped over lines, and the refusal of a text the template lacks."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'po'))
import compile_catalogue as cc  # noqa: E402

_, TABLE = cc.catalogue(os.path.dirname(cc.__file__))


def written(name, text):
    path = os.path.join(tempfile.mkdtemp(), name)
    with open(path, 'w', encoding='utf-8') as f:
        f.write(text)
    cc.desktop_lines(TABLE, path, True)
    cc.desktop_lines(TABLE, path, False)  # written once, it passes the check
    with open(path, encoding='utf-8') as f:
        return f.read()


class DesktopLines(unittest.TestCase):
    def test_action_names_are_the_menu_texts(self):
        out = written('a.desktop', '[Desktop Entry]\nName=Orlivan Notifier\n\n'
                      '[Desktop Action about]\nName=About\nExec=x\n')
        self.assertIn('Name=Orlivan Notifier\n\n', out)  # the product's name stays
        self.assertIn('Name=About\nName[de]=%s\n' % cc.without_mnemonic(TABLE['de']['MenuAbout']),
                      out)
        self.assertIn('Name[ru]=%s\nExec=x\n' % cc.without_mnemonic(TABLE['ru']['MenuAbout']),
                      out)

    def test_wrapped_paragraph_gets_its_translations(self):
        words = TABLE['en']['AppStreamOnePerUser'].split(' ')
        wrapped = ' '.join(words[:5]) + '\n      ' + ' '.join(words[5:])
        out = written('a.metainfo.xml.in',
                      '<description>\n    <p>\n      %s\n    </p>\n</description>\n' % wrapped)
        self.assertIn('    <p xml:lang="fr">%s</p>\n'
                      % TABLE['fr']['AppStreamOnePerUser'].replace('&', '&amp;'), out)
        self.assertEqual(out.count('xml:lang'), len(cc.LANGUAGES))

    def test_unknown_texts_are_refused(self):
        for name, text in (('a.desktop', '[Desktop Action x]\nName=Quit\n'),
                           ('a.xml', '<description>\n  <p>Not in the template</p>\n</description>\n')):
            path = os.path.join(tempfile.mkdtemp(), name)
            with open(path, 'w', encoding='utf-8') as f:
                f.write(text)
            with self.assertRaises(cc.CatalogueError):
                cc.desktop_lines(TABLE, path, True)


if __name__ == '__main__':
    unittest.main()
