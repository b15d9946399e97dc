#!/usr/bin/env python3
# Writes the seed corpora under corpus/<target>/: a few dozen inputs each,
# taken from the cases of the unit tests' tables. Files are named by content,
# so running it again adds only what is new.
#   tests/fuzz/make_seeds.py
import os, zlib, struct, base64, hashlib
here = os.path.dirname(os.path.abspath(__file__))
root = os.path.join(here, 'corpus')
def put(target, data):
    d = os.path.join(root, target); os.makedirs(d, exist_ok=True)
    if isinstance(data, str): data = data.encode('utf-8')
    open(os.path.join(d, hashlib.sha1(data).hexdigest()[:16]), 'wb').write(data)

def answer(v): return '<?xml version="1.0"?><methodResponse><params><param><value>%s</value></param></params></methodResponse>' % v
def fault(c, s): return ('<methodResponse><fault><value><struct><member><name>faultCode</name><value><int>%s</int></value></member>'
                         '<member><name>faultString</name><value><string>%s</string></value></member></struct></value></fault></methodResponse>') % (c, s)

def png(w, h, color_type=6, depth=8, rows=None):
    ch = {0:1, 2:3, 3:1, 4:2, 6:4}[color_type]
    raw = b''.join(b'\x00' + bytes((x*7+y*3) & 255 for x in range(w*ch*depth//8)) for y in range(h))
    def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t+d) & 0xffffffff)
    out = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, color_type, 0, 0, 0))
    if color_type == 3: out += chunk(b'PLTE', bytes(range(48)))
    return out + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')

pngs = [png(1,1), png(3,2,2), png(4,4,0), png(5,3,3), png(2,2,4), png(8,1,0,1), png(2,2,6,16)]
b64 = base64.b64encode(pngs[1]).decode()

for v in ['<string>hello</string>', 'untyped', '<string></string>', '<string>  </string>', '<int>42</int>', '<i4>-7</i4>',
          '<i8>+9223372036854775807</i8>', '<int> 12 </int>', '<boolean>1</boolean>', '<boolean>false</boolean>',
          '<double>1.5</double>', '<dateTime.iso8601>20260101T00:00:00</dateTime.iso8601>', '<nil/>', '<ex:nil/>',
          '<base64>%s</base64>' % b64, '<base64>%s\n%s</base64>' % (b64[:20], b64[20:]),
          '<struct><member><name>A</name><value><string>x&lt;y&#233;&#x1F600;</string></value></member>'
          '<member><name>B</name><value><i4>2</i4></value></member></struct>',
          '<struct><member><name>Name</name><value>Ann</value></member><member><name>Tags</name><value><array><data>'
          '<value>a</value><value><i4>2</i4></value></data></array></value></member><member><name>Address</name><value><struct>'
          '<member><name>City</name><value>Oslo</value></member></struct></value></member>'
          '<member><name>Empty</name><value><struct>\n</struct></value></member><member><name>None</name><value><array><data/></array></value></member></struct>',
          '<array><data><value>system.listMethods</value><value>GetRecord</value></data></array>',
          '<array><data><value><array><data><value>boolean</value><value>struct</value></data></array></value>'
          '<value><array><data><value>string</value></data></array></value></data></array>',
          '<string>a<![CDATA[<b>&#0;]]>c<!-- &#0; -->d</string>', '<string>line\r\nnext\ttab</string>',
          '<string>&#xD800;&#x110000;&#1114112;</string>', '<unknown>1</unknown>',
          '<struct><member><name>a</name><value><struct><member><name>b</name><value><array><data><value><i4>1</i4></value></data></array></value></member></struct></value></member></struct>']:
    put('response', answer(v))
for c, s in [('-501', 'No &amp; way'), ('4', '\x1b]0;x\x07'), ('2147483648', 'big'), ('0', 'zero')]:
    put('response', fault(c, s))
put('response', '<methodResponse></methodResponse>')
put('response', '<?xml version="1.0"?><!DOCTYPE x [<!ENTITY a "aaaa">]><methodResponse/>')
put('response', '<methodResponse><params><param><value>1</value></param><param><value>2</value></param></params></methodResponse>')
put('response', answer('<string>a&#4294967296;b</string>'))

for p in pngs: put('picture', p)
for t in [b64, b64[:-2], 'QUJD', 'QQ==', 'QUI=', 'Q', 'A===', '====', 'QU JD\n', '*']:
    put('picture', t)

def u16(s): return s.encode('utf-16-le')
for t in ['Name=Ann', 'Name=Ann\nCompany=Acme\n', '  Key = value with spaces  \n\n', 'A=\nB==\n=C',
          'NoEquals', 'Name=Ann\u2029Next=1\u2028Last=2', 'Photo=/tmp/a.png\r\nSide=back\r\n',
          'Value=' + 'x'*1000, 'Value=' + 'x'*998 + '\U0001F600', 'Nul=a\0b', '\0Name=Ann\0', 'Emoji=\U0001F600\u00e9']:
    put('arguments', u16(t))
put('arguments', b'N\x00=\x00\x00\xd8\n\x00')  # lone high surrogate

samples = os.path.join(here, '..', '..', 'samples', 'visitors.idc')
put('design', open(samples, 'rb').read())
base = '[Design]\nname = D\nsize = 200x120\ngenerate = 5\n[Field Name]\nsample = first-name\nplace = 10,10,180,30\n[Field Number]\nkind = number\nsample = sequence\n[Field Photo]\nkind = photo\nplace = 10,50,40,50\n'
put('design', base)
put('design', base + '[Template Badge]\ntitle = Guest\nbackground = #102030\naccent = #abcdef\nfields = Name, Photo\n')
put('design', base + '[RosterLink]\ncsv = people.csv\nkey = Number\n')
put('design', base + '[Field Label1]\nkind = label\ntext = Hello\nside = back\nfont = 20\nbold = yes\ncolor = #ff0000\nalign = right\n')
for bad in ['[Design]\n', '[Field Id]\n', '[Design]\n[Field A]\n[Field a]\n', 'key = value\n', '[Design\n', '[Design]\nsize = 0x0\n',
            base + '[Template T]\nfields = Missing\n', base + '[RosterLink]\nkey = Nope\n', base + '[Field X]\nplace = 1,2,3\n', base + '[Field Y]\ncolor = red\n']:
    put('design', bad)

def call(m, params=''):
    return '<?xml version="1.0"?><methodCall><methodName>%s</methodName><params>%s</params></methodCall>' % (m, params)
def struct_param(pairs):
    return '<param><value><struct>%s</struct></value></param>' % ''.join('<member><name>%s</name><value><string>%s</string></value></member>' % p for p in pairs)
for m in ['GetRecord', 'GetFields', 'GetTemplates', 'GetStatus', 'GetCount', 'IsBusy', 'GetLastCommandError', 'GetProgramInfo', 'First', 'Next', 'Last', 'system.listMethods']:
    put('gate', call(m))
put('gate', call('system.methodSignature', '<param><value><string>GetRecord</string></value></param>'))
put('gate', call('system.methodHelp', '<param><value>Add</value></param>'))
put('gate', call('GetRecord', struct_param([('LastName', 'Smith')])))
put('gate', call('Select', struct_param([('Company', 'A*')])))
put('gate', call('Update', struct_param([('FirstName', 'Zo&#233;')])))
put('gate', call('Add', struct_param([('FirstName', 'Ann'), ('LastName', 'Lee')])))
put('gate', call('GetErrorMessage', struct_param([('Code', '3')])))
put('gate', call('GetPhoto', struct_param([('Side', 'front')])))
put('gate', call('system.multicall', '<param><value><array><data><value><struct><member><name>methodName</name><value>GetCount</value></member>'
                 '<member><name>params</name><value><array><data/></array></value></member></struct></value></data></array></value></param>'))
put('gate', '<?xml version="1.0" encoding="ISO-8859-1"?><methodCall><methodName>GetRecord</methodName><params>' + struct_param([('LastName', '\xe9')]) + '</params></methodCall>')
put('gate', '\ufeff' + call('GetCount'))
put('gate', '<?xml version="1.0"?><!DOCTYPE x [<!ENTITY a "b">]><methodCall><methodName>&a;</methodName></methodCall>')
put('gate', '<methodCall><methodName>GetCount</methodName><methodName>GetCount</methodName></methodCall>')
put('gate', '<notacall/>')
put('gate', 'not xml at all')
put('gate', '<methodCall><methodName>GetRecord</methodName><params><param><value><array><data><value><array><data><value>1</value></data></array></value></data></array></value></param></params></methodCall>')

for t in ['# c\n\ncall GetCount\nexpect Total = 300\nexpect Total ~ ^3\nexpect Gone absent\n'
          'expect entries 2\ncapture t = Total\nexpect time < 1.5 ms\n'
          'call GetRecord "Id={{t}}"\nexpect First Name = A B\nexpect error\n'
          'expect error 6\nexpect error ~ match\ncall Select X=1\nexpect accepted\n'
          'call First\nexpect accepted\ncall GetEditCount\nexpect = 1\nexpect != 1\n'
          'expect < 1\nexpect <= 1\nexpect > -1\nexpect >= 0\ncapture n\ncall IsBusy\n'
          'expect false\nexpect true\ncall GetErrorMessage Code={{n}}\n'
          'expect text = Record not found\nexpect text ~ ^Rec\ncall GetBadgeImage\n'
          'expect picture 540 x 860\nexpect picture sha256 ' + '0' * 64 + '\n',
          'call GetCount\nexpcet Total = 1\n',
          'call GetCount\nexpect picture 540 x 860\nexpect accepted\nexpect = 3\n',
          'call getcount\ncall GetRecord Id\ncall GetCount Id=4\ncall GetRecord \'Id=5\ncall\nexpect Total = 1\n',
          'expect entries 1\ncall GetRecord\nexpect Name ~ (\nexpect entries many\nexpect time < 0 ms\nexpect error 6 7\n',
          'call Select \'Company=Fjord & Pine, "Ltd"\' "a\\"b\\\\c" x\\ y\r\nexpect accepted\r\n',
          'call GetRecord Id={{given}}\ncapture who = LastName\ncall Select LastName={{who}}\nexpect accepted',
          'call GetRecord\n\n\n# only a comment\n  \t\ncall GetFields\nexpect entries 12\n',
          'call Update "FirstName=Zo\u00e9 \U0001F600"\nexpect accepted\nexpect error ~ ^Record\n']:
    put('scenario', t)
