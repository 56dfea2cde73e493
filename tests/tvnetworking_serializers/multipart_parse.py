# Parses a multipart/form-data body with Python's email package and prints
# its parts as JSON: name, filename, content type and payload (hex).
import json
import sys
from email import policy
from email.parser import BytesParser

body = open(sys.argv[1], 'rb').read()
ctype = sys.argv[2].encode()
msg = BytesParser(policy=policy.HTTP).parsebytes(b'Content-Type: ' + ctype + b'\r\n\r\n' + body)
parts = []
if msg.is_multipart():
    for part in msg.iter_parts():
        parts.append({
            'name': part.get_param('name', header='content-disposition'),
            'filename': part.get_filename(),
            'type': part.get_content_type() if part['content-type'] else None,
            'headers': len(part.keys()),
            'data': (part.get_payload(decode=True) or b'').hex(),
        })
print(json.dumps({'multipart': msg.is_multipart(),
                  'defects': [type(d).__name__ for d in msg.defects] +
                             [type(d).__name__ for p in (msg.iter_parts() if msg.is_multipart() else []) for d in p.defects],
                  'parts': parts}))
