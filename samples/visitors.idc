# Visitors' badges for the front desk. The roster (visitors.db, beside this
# file) is created with 300 generated visitors the first time it is opened.
[Design]
name = Visitors
size = 540x860
background = #ffffff
back = #eef2f6
roster = visitors.db
generate = 300

[Field Photo]
kind = photo
place = 150,110,240,300

[Field FirstName]
kind = text
place = 20,440,500,56
font = 40
bold = yes
align = center
sample = first-name

[Field LastName]
kind = text
place = 20,496,500,50
font = 34
align = center
sample = last-name

[Field Company]
kind = text
place = 20,560,500,40
font = 24
color = #444444
align = center
sample = company

[Field Host]
kind = text
place = 20,610,500,36
font = 20
align = center
sample = person

[Field BadgeNumber]
kind = number
place = 20,780,240,40
font = 22
color = #666666
sample = sequence

[Field ValidUntil]
kind = date
place = 280,780,240,40
font = 22
color = #666666
align = right
sample = future-date

[Field Email]
kind = text
place = 30,120,480,36
side = back
font = 20
sample = email

[Field Signature]
kind = signature
place = 70,300,400,120
side = back
sample = none

[Field Fingerprint]
kind = fingerprint
place = 190,480,160,160
side = back
sample = none

[Field Rules]
kind = label
side = back
text = Please wear this badge visibly at all times and return it at the front desk when you leave.
place = 30,700,480,120
font = 20
align = center

[Template Visitor]
title = VISITOR
background = #ffffff
accent = #b3261e

[Template Contractor]
title = CONTRACTOR
background = #fff4d6
accent = #8a5a00
fields = Photo, FirstName, LastName, Company, BadgeNumber, ValidUntil, Email, Signature, Fingerprint

[RosterLink]
csv = visitors.csv
key = Email
