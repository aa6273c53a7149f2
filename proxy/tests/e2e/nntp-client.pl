#!/usr/bin/perl
# A real newsreader's traffic through the proxy: post, then read back with
# ARTICLE and XOVER, and check what the proxy's settings ask for. Prints
# "N passed, N failed" at the end.
use strict;
use warnings;
use Net::NNTP;

my $mode = shift // 'plain';
my $arg = shift // '';
my $proxy = $ENV{SITOWIAK_PROXY_PORT} or die "SITOWIAK_PROXY_PORT not set";
my $direct = $ENV{SITOWIAK_NEWS_PORT} or die "SITOWIAK_NEWS_PORT not set";
my ($passed, $failed) = (0, 0);

sub check {
    my ($ok, $what) = @_;
    if ($ok) { $passed++ } else { $failed++; print "FAIL [$mode $arg]: $what\n" }
}

sub connect_to {
    my ($port) = @_;
    my $n = Net::NNTP->new("127.0.0.1", Port => $port, Timeout => 10, Reader => 1)
        or die "cannot connect to port $port";
    return $n;
}

my $id = "<sitowiak-" . $$ . "-" . time() . "-$mode\@test.example>";
# A plain-text body in UTF-8 with Polish letters, and one multipart article.
my @plain = (
    "From: Tester <tester\@test.example>\n",
    "Newsgroups: pl.test\n",
    "Subject: =?UTF-8?Q?Pr=C3=B3ba_za=C5=BC=C3=B3=C5=82=C4=87?=\n",
    "Message-ID: $id\n",
    "MIME-Version: 1.0\n",
    "Content-Type: text/plain; charset=UTF-8; format=flowed\n",
    "Content-Transfer-Encoding: 8bit\n",
    "\n",
    "Zażółć gęślą jaźń.\n",
    "..a line that starts with a dot\n",
);

my $n = connect_to($proxy);
check($n->message =~ /InterNetNews|ready/i, "greeting of the news server comes first");

# One command on the connection, with its status line and, for a multi-line
# reply, its lines.
sub ask {
    my ($c, @command) = @_;
    $c->command(@command);
    my $ok = $c->response;
    my $lines = ($c->code =~ /^(100|101|215|220|221|222|224|225|230|231)$/) ? $c->read_until_dot : [];
    return ($c->code, $lines);
}

# Bytes as a reader writes them, on a raw connection; returns the status line.
sub raw_exchange {
    my ($sock, $bytes) = @_;
    print $sock $bytes;
    my $line = <$sock>;
    return defined $line ? $line : '';
}

if ($mode eq 'refused') {
    check($n->code == 201, "MODE READER answered 201 outside the write list (got " . $n->code . ")");
    check(!$n->postok, "the reader is told it may not post");
    # Every spelling of a command that hands the server an article.
    require IO::Socket::INET;
    my $sock = IO::Socket::INET->new(PeerAddr => "127.0.0.1:$proxy", Timeout => 10)
        or die "cannot connect to the proxy";
    $sock->autoflush(1);
    my $greeting = <$sock>;
    check($greeting =~ /^201 /, "greeting says 201 outside the write list: $greeting");
    # INN reads a line up to its first NUL: those lines never leave the proxy.
    my @bypass = (" POST\r\n", "\tpost\r\n", "IHAVE <ID>\r\n", "POST\n",
                  "POST\0\r\n", " POST\0\r\n", "post\0junk\r\n", "STARTTLS\0\r\n");
    my @codes = (441, 441, 435, 441, 501, 501, 501, 501);
    my @ids;
    for my $i (0 .. $#bypass) {
        my $bid = "<sitowiak-bypass-$$-$i\@test.example>";
        push @ids, $bid;
        (my $command = $bypass[$i]) =~ s/<ID>/$bid/;
        my $line = raw_exchange($sock, $command);
        (my $shown = $command) =~ s/\0/\\0/g;
        check($line =~ /^$codes[$i] /, "'$shown' refused with $codes[$i]: $line");
        # Had the command reached the server, this article would be stored.
        if ($line =~ /^3/) {
            print $sock "From: x\@test.example\r\nNewsgroups: pl.test\r\nSubject: bypass\r\n"
                . "Message-ID: $bid\r\n\r\nbypass\r\n.\r\n";
            <$sock>;
        }
    }
    close $sock;
    my $server = connect_to($direct);
    $server->group("pl.test");
    check(!defined $server->nntpstat($_), "$_ never reached the server") for @ids;
    $server->quit;
    print "BYPASS-IDS @ids\n";
    my $ok = $n->post(\@plain);
    check(!$ok, "POST from outside the write list is refused");
    check($n->code == 441, "refusal code is 441 (got " . $n->code . ")");
    check($n->message =~ /Twoje uprawnienia/, "refusal text");
    my ($count) = $n->group("pl.test");
    check(defined $count, "the connection stays usable after the refusal");
    my $d = connect_to($direct);
    $d->group("pl.test");
    check(!defined $d->nntpstat($id), "the refused article never reached the server");
    $d->quit;
    $n->quit;
    print "$passed passed, $failed failed\n";
    exit($failed ? 1 : 0);
}

check($n->post(\@plain), "POST through the proxy: " . $n->code . " " . $n->message);

# The article as the server stored it (read directly, not through the proxy).
my $d = connect_to($direct);
$d->group("pl.test");
my $stored = join('', @{ $d->article($id) // [] });
check($stored =~ /^-- \nPrzefiltrowane przez Sitowiak 5\.00\.00\.48\n/m, "footer reached the server");
if ($mode eq 'charset') {
    check($stored =~ /charset="?\Q$arg\E"?/i, "posted article relabelled to $arg");
    check($stored =~ /format=flowed/, "other Content-Type parameters kept");
}
$d->quit;

my ($count, $first, $last) = $n->group("pl.test");
check(defined $count, "GROUP through the proxy");
my $article = join('', @{ $n->article($id) // [] });
check($article =~ /Message-ID: \Q$id\E/i, "ARTICLE through the proxy");
check($article =~ /^\.\.a line that starts/m || $article =~ /^\.a line that starts/m,
      "dot-stuffed line survives");
if ($mode eq 'plain') {
    check($article =~ /Zażółć gęślą jaźń/, "body unchanged without forced charset");
} elsif ($mode eq 'charset' && $arg eq 'us-ascii') {
    check($article =~ /charset="?us-ascii"?/i, "ARTICLE relabelled to us-ascii");
    check($article !~ /[\x80-\xff]/, "no 8-bit byte left in a us-ascii article");
}

my $over = $n->xover("$first-$last");
check(ref $over eq 'HASH' && scalar(keys %$over) > 0, "XOVER through the proxy");
my ($mine) = grep { $over->{$_}[3] eq $id } keys %$over;
check(defined $mine, "our article is in the overview");
if (defined $mine && $mode eq 'charset' && $arg eq 'utf-8') {
    check($over->{$mine}[0] =~ /Próba zażółć/, "overview subject decoded to UTF-8");
}

# The commands newer readers use give what XOVER and ARTICLE give.
my ($code, $lines) = ask($n, "OVER", "$first-$last");
check($code == 224, "OVER through the proxy ($code)");
my ($overLine) = grep { /\t\Q$id\E\t/ } @$lines;
check(defined $overLine, "our article is in the OVER reply");
if (defined $mine && defined $overLine) {
    my @fields = split /\t/, $overLine;
    check($fields[1] eq $over->{$mine}[0], "OVER gives the subject XOVER gives");
}
my $subjects = $n->xhdr("Subject", "$first-$last") // {};
my ($number) = grep { $over->{$_}[3] eq $id } keys %$over;
check(defined $number && defined $subjects->{$number}, "XHDR subject through the proxy");
if (defined $number && defined $subjects->{$number}) {
    check($subjects->{$number} eq $over->{$number}[0], "XHDR subject is the overview's subject");
    if ($mode eq 'charset' && $arg eq 'utf-8') {
        check($subjects->{$number} =~ /Próba zażółć/, "XHDR subject decoded to UTF-8");
    }
}
my $head = join('', @{ $n->head($id) // [] });
my $body = join('', @{ $n->body($id) // [] });
check($head ne '' && $body ne '', "HEAD and BODY through the proxy");
check($head . "\n" . $body eq $article, "HEAD and BODY together are what ARTICLE gives");

($code, $lines) = ask($n, "CAPABILITIES");
check($code == 101, "CAPABILITIES through the proxy");
check(!grep({ /^(COMPRESS|STARTTLS)\b/i } @$lines), "no COMPRESS or STARTTLS offered");
($code) = ask($n, "COMPRESS", "DEFLATE");
check($code == 502, "COMPRESS answered 502 by the proxy ($code)");
($code) = ask($n, "STARTTLS");
check($code == 502, "STARTTLS answered 502 by the proxy ($code)");
check(defined $n->date, "the connection goes on in plain text");

$n->quit;
print "$passed passed, $failed failed\n";
exit($failed ? 1 : 0);
