#!/usr/bin/perl
# Prints what Debian's Palm::PDB reads from a database file, one fact per line,
# so the tests can hold our reader and writer against an independent one.
use strict;
use warnings;
use Palm::PDB;
use Palm::Raw;

Palm::PDB::RegisterPDBHandlers("Palm::Raw", "");
Palm::PDB::RegisterPRCHandlers("Palm::Raw", "");

my $path = shift or die "usage: $0 FILE\n";
my $pdb = Palm::PDB->new;
$pdb->Load($path);

my $attr = 0;
$attr |= 0x0001 if $pdb->{attributes}{resource};
$attr |= 0x0002 if $pdb->{attributes}{"read-only"};
$attr |= 0x0004 if $pdb->{attributes}{"AppInfo dirty"};
$attr |= 0x0008 if $pdb->{attributes}{backup};
$attr |= 0x0010 if $pdb->{attributes}{"OK newer"};
$attr |= 0x0020 if $pdb->{attributes}{reset};
$attr |= 0x0040 if $pdb->{attributes}{"no copy"};
$attr |= 0x0080 if $pdb->{attributes}{stream};
$attr |= 0x0100 if $pdb->{attributes}{hidden};
$attr |= 0x0200 if $pdb->{attributes}{launchable};
$attr |= 0x8000 if $pdb->{attributes}{open};

print "name=$pdb->{name}\n";
print "type=$pdb->{type}\n";
print "creator=$pdb->{creator}\n";
print "attributes=$attr\n";
print "version=$pdb->{version}\n";
print "modnum=$pdb->{modnum}\n";
my $app = $pdb->{appinfo};
$app = $app->{raw} if ref $app;
print "appinfo=", length($app // ""), "\n";
print "sortinfo=", length($pdb->{sort} // ""), "\n";
if ($attr & 0x0001) {
    print "count=", scalar(@{$pdb->{resources} // []}), "\n";
    for my $r (@{$pdb->{resources} // []}) {
        print "resource type=$r->{type} id=$r->{id} size=", length($r->{data}), "\n";
    }
} else {
    print "count=", scalar(@{$pdb->{records} // []}), "\n";
    for my $r (@{$pdb->{records} // []}) {
        my $a = 0;
        # Palm::PDB calls 0x80 "expunged" and 0x20 "deleted".
        $a |= 0x80 if $r->{attributes}{expunged};
        $a |= 0x40 if $r->{attributes}{dirty};
        $a |= 0x20 if $r->{attributes}{deleted} || $r->{attributes}{busy};
        $a |= 0x10 if $r->{attributes}{private};
        printf "record attr=%d cat=%d uid=%d size=%d\n", $a, $r->{category} // 0, $r->{id},
            length($r->{data});
    }
}
